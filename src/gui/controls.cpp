#include "gui/controls.h"

#include "gui/qt/control_widgets.h"
#include "gui/qt/peer.h"

using gui_detail::ButtonWidget;
using gui_detail::command;
using gui_detail::LabelWidget;
using gui_detail::ScrollFrame;

BStringView::BStringView(BRect frame, const char* name, const char* text, uint32 resizing_mode, uint32 flags)
    : BView(frame, name, resizing_mode, flags, &LabelWidget::make), text_(text ? text : "") {
  command<LabelWidget>(peer(), [text = QString::fromUtf8(text ? text : "")](LabelWidget& w) { w.set_label(text); });
}

BButton::BButton(BRect frame, const char* name, const char* label, BMessage* message, uint32 resizing_mode,
                 uint32 flags)
    : BView(frame, name, resizing_mode, flags, &ButtonWidget::make), message_(message), label_(label ? label : "") {
  std::shared_ptr<const BMessage> copy = message ? std::make_shared<BMessage>(*message) : nullptr;
  command<ButtonWidget>(peer(), [label = QString::fromUtf8(label ? label : ""), copy](ButtonWidget& w) {
    w.setup(label, copy);
  });
}

namespace {
BRect around(BRect target, border_style border) {
  const float width = float(ScrollFrame::border_width(border));
  return BRect(target.left - width, target.top - width, target.right + width, target.bottom + width);
}
}  // namespace

BScrollView::BScrollView(const char* name, BView* target, uint32 resizing_mode, uint32 flags, bool horizontal,
                         bool vertical, border_style border)
    : BView(around(target->initial_frame(), border), name, resizing_mode, flags, &ScrollFrame::make) {
  AddChild(target);
  gui_detail::post_to_qt([frame = peer(), inner = peer_of(*target), border, horizontal, vertical] {
    auto* scroll = dynamic_cast<ScrollFrame*>(frame->widget.data());
    if (scroll != nullptr && inner->widget) scroll->wrap(inner->widget, border, horizontal, vertical);
  });
}
