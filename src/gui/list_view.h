// Lists of text entries.
#pragma once

#include <string>
#include <vector>

#include "gui/interface_defs.h"
#include "gui/view.h"

class BListItem {
 public:
  virtual ~BListItem() = default;
  // What the list shows for the entry.
  virtual const char* Text() const = 0;
};

// An entry holding its own copy of a text.
class BStringItem : public BListItem {
 public:
  explicit BStringItem(const char* text) : text_(text ? text : "") {}
  const char* Text() const override { return text_.c_str(); }

 private:
  std::string text_;
};

// The list never deletes its entries: whoever takes one out, or empties the
// list before it goes, deletes it. Every call belongs to the window's thread.
class BListView : public BView {
 public:
  BListView(BRect frame, const char* name, list_view_type type = B_SINGLE_SELECTION_LIST,
            uint32 resizing_mode = B_FOLLOW_LEFT | B_FOLLOW_TOP, uint32 flags = B_WILL_DRAW);

  // Appends the entry.
  bool AddItem(BListItem* item);
  // Takes the entry at `index` out and hands it over; null when there is none.
  BListItem* RemoveItem(int32 index);
  BListItem* ItemAt(int32 index) const;
  int32 CountItems() const { return static_cast<int32>(items_.size()); }

  // The index of the `index`-th selected entry, in list order; negative when
  // there is none.
  int32 CurrentSelection(int32 index = 0) const;
  void Select(int32 index);

 private:
  std::vector<BListItem*> items_;
};
