// Labels, buttons and scroll frames. Like every view, each belongs to its
// window's thread (see BView).
#pragma once

#include <memory>
#include <string>

#include "gui/interface_defs.h"
#include "gui/message.h"
#include "gui/view.h"

// A line of static text.
class BStringView : public BView {
 public:
  BStringView(BRect frame, const char* name, const char* text,
              uint32 resizing_mode = B_FOLLOW_LEFT | B_FOLLOW_TOP, uint32 flags = B_WILL_DRAW);
  const char* Text() const { return text_.c_str(); }

 private:
  std::string text_;
};

// A push button. A click posts a copy of its message to the window. A frame
// too low for the label grows downwards to the height the label needs.
class BButton : public BView {
 public:
  // Takes `message` over.
  BButton(BRect frame, const char* name, const char* label, BMessage* message,
          uint32 resizing_mode = B_FOLLOW_LEFT | B_FOLLOW_TOP, uint32 flags = B_WILL_DRAW);
  const BMessage* Message() const { return message_.get(); }
  const char* Label() const { return label_.c_str(); }

 private:
  std::unique_ptr<BMessage> message_;
  std::string label_;
};

// A frame around a target view, with optional scroll bars that scroll it. The
// target becomes the frame's child, in the place it had; the border and the
// bars lie around it.
class BScrollView : public BView {
 public:
  BScrollView(const char* name, BView* target, uint32 resizing_mode = B_FOLLOW_LEFT | B_FOLLOW_TOP,
              uint32 flags = 0, bool horizontal = false, bool vertical = false,
              border_style border = B_FANCY_BORDER);
};
