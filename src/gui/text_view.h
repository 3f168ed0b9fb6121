// Text views: text in one font, laid out in a text rectangle, optionally
// editable. What a text view draws is what it measures: LineWidth and
// TextHeight come from the layout that paints.
#pragma once

#include <string>

#include "gui/font.h"
#include "gui/interface_defs.h"
#include "gui/view.h"

// Every call belongs to the window's thread (see BView). Offsets and lengths
// are in bytes of UTF-8 text.
class BTextView : public BView {
 public:
  // `text_rect` is where the text is laid out, in the view's coordinates.
  BTextView(BRect frame, const char* name, BRect text_rect, uint32 resizing_mode, uint32 flags);

  // --- Text ------------------------------------------------------------------------------

  void SetText(const char* text, int32 length);
  void SetText(const char* text);
  // Valid until the next call on the view.
  const char* Text() const;
  int32 TextLength() const;

  // --- Font -------------------------------------------------------------------------------

  // The view is not stylable: one font and colour for all of the text, so
  // `offset` does not matter.
  void GetFontAndColor(int32 offset, BFont* font, rgb_color* color = nullptr) const;
  // `mask` says which attributes of `font` apply (B_FONT_SIZE, B_FONT_ALL).
  void SetFontAndColor(const BFont* font, uint32 mask = B_FONT_ALL, const rgb_color* color = nullptr);

  // --- Measuring, in pixels of the current font ----------------------------------------

  int32 CountLines() const;
  // Wide enough for every pixel the line paints; 0 past the last line.
  float LineWidth(int32 line = 0) const;
  // Of lines `from` to `to`, inclusive, clamped to the lines there are; 0 when
  // `to` comes before `from` (lines 0 to -1, say).
  float TextHeight(int32 from, int32 to) const;

  void SetTextRect(BRect rect);
  BRect TextRect() const { return text_rect_; }

  // --- Behaviour ---------------------------------------------------------------------------

  void MakeEditable(bool editable = true);
  bool IsEditable() const { return editable_; }
  void MakeSelectable(bool selectable = true);
  bool IsSelectable() const { return selectable_; }
  // Wrapping breaks lines at blanks to fit the text rectangle's width.
  void SetWordWrap(bool wrap);
  bool DoesWordWrap() const { return wrap_; }
  void SetAlignment(alignment how);
  alignment Alignment() const { return alignment_; }
  // A scrollable view keeps its text within its frame: text taller than the
  // frame scrolls (wheel, and a scroll bar at the right edge while it is
  // needed), and a line wider than the frame ends in "…", the whole line
  // shown as the tooltip of its row. Off by default: text past the frame is
  // cut off there.
  void MakeScrollable(bool scrollable = true);
  bool IsScrollable() const { return scrollable_; }
  // Scrolls as little as it takes for the line holding `offset` to show;
  // TextLength() shows the end. A view scrolled to its end stays there when
  // its frame changes size.
  void ScrollToOffset(int32 offset);

  // --- What typing may do ------------------------------------------------------------------

  // Typing never makes the text longer than this; text set by the program
  // may be (it is shown whole).
  void SetMaxBytes(int32 max);
  int32 MaxBytes() const { return max_bytes_; }
  // A character is named by its first byte, as the platform does: refusing
  // the bytes 0x80 to 0xFF refuses every character beyond ASCII. Editing keys
  // (backspace, delete, arrows) are no characters and always work.
  void DisallowChar(uint32 character);
  void AllowChar(uint32 character);

  // --- Selection ---------------------------------------------------------------------------

  void SelectAll();
  void Select(int32 start, int32 end);
  void GetSelection(int32* start, int32* end) const;
  // Deletes the selected text.
  void Delete();

  // The platform's own handling of a click: focus, and the caret (or the
  // start of a selection) under the pointer. A derived view that overrides
  // MouseDown replaces it.
  void MouseDown(BPoint where) override;

 private:
  mutable std::string text_;  // what Text() last read
  BRect text_rect_;
  bool editable_ = true;
  bool selectable_ = true;
  bool wrap_ = true;
  bool scrollable_ = false;
  alignment alignment_ = B_ALIGN_LEFT;
  int32 max_bytes_;
};
