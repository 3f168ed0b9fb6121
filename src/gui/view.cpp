#include "gui/view.h"

#include <QPalette>

#include <algorithm>
#include <cstring>

#include "gui/qt/follow.h"
#include "gui/qt/peer.h"
#include "gui/qt/widgets.h"

using gui_detail::command;
using gui_detail::Peer;
using gui_detail::query;

BView::BView(BRect frame, const char* name, uint32 resizing_mode, uint32 flags)
    : BView(frame, name, resizing_mode, flags, &gui_detail::ViewWidget::make) {}

BView::BView(BRect frame, const char* name, uint32 resizing_mode, uint32 flags, WidgetMaker make_widget)
    : BHandler(name), peer_(std::make_shared<Peer>()), frame_(frame), resizing_mode_(resizing_mode), flags_(flags) {
  gui_detail::post_to_qt([peer = peer_, make_widget, rect = gui_detail::to_qrect(frame),
                          token = handler_token(), resizing_mode, color = view_color_] {
    QWidget* widget = make_widget();
    widget->setGeometry(rect);
    gui_detail::set_view_identity(widget, token, resizing_mode);
    // Views that fill their background fill it with the view colour; the
    // others (labels, buttons) show their parent's.
    if (widget->autoFillBackground()) {
      QPalette palette = widget->palette();
      palette.setColor(QPalette::Window, gui_detail::to_qcolor(color));
      widget->setPalette(palette);
    }
    gui_detail::relayout(widget);  // notes the size the children are placed for
    peer->widget = widget;
  });
}

BView::~BView() {
  const std::vector<BView*> children = children_;
  for (BView* child : children) delete child;
  if (parent_) std::erase(parent_->children_, this);
  gui_detail::post_to_qt([peer = std::move(peer_)] { delete peer->widget.data(); });
}

void BView::Pulse() {}

void BView::MouseDown(BPoint) {}

void BView::AddChild(BView* view, BView* before) {
  if (view == nullptr || view->parent_ != nullptr) return;
  const auto at = std::find(children_.begin(), children_.end(), before);
  children_.insert(at, view);
  view->parent_ = this;
  view->attach(window_);
  gui_detail::post_to_qt([parent = peer_, child = view->peer_, sibling = before ? before->peer_ : nullptr] {
    if (!parent->widget || !child->widget) return;
    const QRect frame = child->widget->geometry();
    child->widget->setParent(parent->widget);
    child->widget->setGeometry(frame);
    if (sibling && sibling->widget) child->widget->stackUnder(sibling->widget);
    child->widget->show();
  });
}

BView* BView::ChildAt(int32 index) const {
  if (index < 0 || index >= CountChildren()) return nullptr;
  return children_[static_cast<std::size_t>(index)];
}

BView* BView::FindView(const char* name) const {
  if (name == nullptr) return nullptr;
  if (std::strcmp(Name(), name) == 0) return const_cast<BView*>(this);
  for (BView* child : children_)
    if (BView* found = child->FindView(name)) return found;
  return nullptr;
}

BRect BView::Frame() const {
  return query<QWidget>(peer_, frame_, [](QWidget& w) { return gui_detail::to_brect(w.geometry()); });
}

BRect BView::Bounds() const {
  const QRect fallback = gui_detail::to_qrect(frame_);
  const QRect bounds = query<QWidget>(peer_, QRect(QPoint(0, 0), fallback.size()), [](QWidget& w) {
    const auto* scrolls = dynamic_cast<const gui_detail::ScrollsContent*>(&w);
    return QRect(scrolls ? scrolls->scroll_origin() : QPoint(0, 0), w.size());
  });
  return gui_detail::to_brect(bounds);
}

void BView::SetViewColor(rgb_color color) {
  view_color_ = color;
  command<QWidget>(peer_, [color](QWidget& w) {
    QPalette palette = w.palette();
    palette.setColor(QPalette::Window, gui_detail::to_qcolor(color));
    w.setPalette(palette);
    w.setAutoFillBackground(true);
  });
}

void BView::SetToolTip(const char* text) {
  command<QWidget>(peer_, [tip = std::string(text == nullptr ? "" : text)](QWidget& w) {
    gui_detail::set_plain_tool_tip(w, tip);
  });
}

std::string BView::ToolTip() const {
  return query<QWidget>(peer_, std::string(), [](QWidget& w) { return gui_detail::plain_tool_tip(w); });
}

void BView::attach(BWindow* window) {
  window_ = window;
  for (BView* child : children_) child->attach(window);
}

BView* BView::find_token(uint64 token) {
  if (handler_token() == token) return this;
  for (BView* child : children_)
    if (BView* found = child->find_token(token)) return found;
  return nullptr;
}

void BView::collect_pulse_views(std::vector<uint64>& tokens) const {
  if (flags_ & B_PULSE_NEEDED) tokens.push_back(handler_token());
  for (const BView* child : children_) child->collect_pulse_views(tokens);
}

const std::shared_ptr<Peer>& peer_of(const BView& view) { return view.peer_; }
