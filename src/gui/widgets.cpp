#include "gui/widgets.h"

#include <QCloseEvent>
#include <QMouseEvent>

#include "gui/follow.h"
#include "gui/peer.h"
#include "gui/port.h"
#include "gui/workspaces.h"

namespace gui_detail {

namespace {

int32 platform_buttons(Qt::MouseButtons held) {
  int32 buttons = 0;
  if (held & Qt::LeftButton) buttons |= B_PRIMARY_MOUSE_BUTTON;
  if (held & Qt::RightButton) buttons |= B_SECONDARY_MOUSE_BUTTON;
  if (held & Qt::MiddleButton) buttons |= B_TERTIARY_MOUSE_BUTTON;
  return buttons;
}

Qt::WindowFlags qt_window_flags(window_type type, uint32 flags) {
  Qt::WindowFlags qt = type == B_FLOATING_WINDOW ? (Qt::Tool | Qt::WindowStaysOnTopHint) : Qt::Window;
  if (flags & B_NOT_RESIZABLE) {
    // No maximize button on a window whose size only the program sets.
    qt |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (type != B_FLOATING_WINDOW) qt |= Qt::WindowMinimizeButtonHint;
  }
  return qt;
}

}  // namespace

void post_to_window(const QWidget* from, std::unique_ptr<BMessage> message, uint64 target) {
  const auto* window = dynamic_cast<const WindowWidget*>(from->window());
  if (window == nullptr || !window->port()) return;
  window->port()->push({std::move(message), target, {}});
}

void post_mouse_down(const QWidget* view_widget, const QMouseEvent* event) {
  auto message = std::make_unique<BMessage>(B_MOUSE_DOWN);
  message->AddInt32("buttons", platform_buttons(event->buttons() | event->button()));
  const QPointF at = event->position();
  message->AddPoint("where", BPoint(float(at.x()), float(at.y())));
  post_to_window(view_widget, std::move(message), view_token(view_widget));
}

void ViewWidget::mousePressEvent(QMouseEvent* event) { post_mouse_down(this, event); }

void ViewWidget::mouseDoubleClickEvent(QMouseEvent* event) { post_mouse_down(this, event); }

void WindowWidget::setup(std::shared_ptr<Port> port, const QString& title, window_type type, uint32 flags,
                         uint32 workspaces) {
  port_ = std::move(port);
  setWindowTitle(title);
  setWindowFlags(qt_window_flags(type, flags));
  fixed_size_ = (flags & B_NOT_RESIZABLE) != 0;
  if (fixed_size_) setFixedSize(size());
  if (workspaces == B_ALL_WORKSPACES) show_on_every_workspace(this);
}

void WindowWidget::resize_content(const QSize& size) {
  if (fixed_size_)
    setFixedSize(size);
  else
    resize(size);
  relayout(this);
}

void WindowWidget::minimize(bool minimize) {
  Qt::WindowStates states = windowState();
  states.setFlag(Qt::WindowMinimized, minimize);
  setWindowState(states);
}

void WindowWidget::closeEvent(QCloseEvent* event) {
  event->ignore();
  if (close_action_ != nullptr) close_action_();
  if (port_) port_->push({std::make_unique<BMessage>(B_QUIT_REQUESTED), 0, {}});
}

void WindowWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  relayout(this);
}

}  // namespace gui_detail
