#include "gui/qt/widgets.h"

#include <QCloseEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QWindow>

#include <algorithm>

#include "gui/qt/follow.h"
#include "gui/qt/peer.h"
#include "gui/qt/port.h"
#include "gui/qt/workspaces.h"
#include "gui/qt/x11_restore.h"

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
  // Qt shows tooltips only in the active window, and the notifier never takes
  // the focus: its tooltip is where a failed check says why.
  setAttribute(Qt::WA_AlwaysShowToolTips);
  fixed_size_ = (flags & B_NOT_RESIZABLE) != 0;
  if (fixed_size_) setFixedSize(size());
  if (workspaces == B_ALL_WORKSPACES) show_on_every_workspace(this);
}

void WindowWidget::resize_content(const QSize& size) {
  wanted_ = size;
  fit_to_screen();
}

// A window never reaches past the part of its screen that panels leave free:
// a content area taller than that room is cut to it and gets the width of a
// scroll bar more (its views scroll), one wider is cut too, and a frame that
// sticks out is moved back in. Frames are known only once the window manager
// has framed the window: until then those of the last window it framed stand
// in, and the fit is done again when the frame changes.
void WindowWidget::fit_to_screen() {
  // Qt's X11 side restores a minimized window to give it another size or
  // place, and a window manager gives the focus to a window restored that
  // way: the fit waits for the window to come back.
  if (!wanted_.isValid() || isMinimized()) return;
  const QRect area = screen()->availableGeometry();
  const QMargins frame = frame_margins();
  const QSize room = area.size().shrunkBy(frame).expandedTo(QSize(1, 1));
  QSize size = wanted_;
  if (size.height() > room.height()) size.rwidth() += style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  size = size.boundedTo(room);
  // Only a new fit resizes: a size the user gave a resizable window since
  // stays.
  if (size != fitted_) {
    fitted_ = size;
    if (fixed_size_)
      setFixedSize(size);
    else
      resize(size);
    relayout(this);
  }
  // From the content's place and the frame's own margins: Qt's pos() and
  // move() use a frame size it updates only when the window moves, and a
  // window manager that frames the window where it stands moves nothing.
  const QRect outer(geometry().topLeft() - QPoint(frame.left(), frame.top()), this->size().grownBy(frame));
  const QPoint inside(std::clamp(outer.left(), area.left(), std::max(area.left(), area.right() + 1 - outer.width())),
                      std::clamp(outer.top(), area.top(), std::max(area.top(), area.bottom() + 1 - outer.height())));
  if (inside == outer.topLeft()) return;
  if (windowHandle() != nullptr)
    windowHandle()->setFramePosition(inside);
  else
    move(inside);
}

QMargins WindowWidget::frame_margins() const {
  static QMargins last_framed;  // Qt thread only
  const QMargins own = windowHandle() != nullptr ? windowHandle()->frameMargins() : QMargins();
  if (!own.isNull()) last_framed = own;
  return own.isNull() ? last_framed : own;
}

void WindowWidget::minimize(bool minimize) {
  if (!minimize && isMinimized() && isVisible()) ask_window_manager_to_restore(*this);
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

// A fit put off while the window was minimized is made once it is back.
void WindowWidget::changeEvent(QEvent* event) {
  ViewWidget::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && !isMinimized()) fit_to_screen();
}

// Qt may learn the frame's size before the framed position: a frame found
// sticking out only then is moved back in, as is one the user dragged out.
void WindowWidget::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  fit_to_screen();
}

// The window manager frames a window shown for the first time soon after,
// and tells Qt the frame's size, but a window it leaves where it was hears
// nothing of it: the frame is looked at a few times until it is known.
void WindowWidget::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  fit_to_screen();
  // A restore shows the window again in the frame it already has.
  if (frame_seen_ || framed()) return;
  // A window mapped while a window manager is still starting (a desktop
  // session starts its programs beside it) may never be managed, and so
  // never appear: still not on the screen after a second, it is shown anew,
  // once.
  if (shown_anew_) return;
  QTimer::singleShot(map_grace_ms, this, [this] {
    if (!isVisible() || isMinimized() || windowHandle() == nullptr || windowHandle()->isExposed()) return;
    shown_anew_ = true;
    hide();
    show();
  });
  frame_looks_left_ = frame_looks;
  look_at_frame();
}

// Framed once the window manager has told the frame's size: a frame put
// round the window where it stands brings no move event, so this is looked
// at rather than waited for.
bool WindowWidget::framed() const {
  return windowHandle() != nullptr && !windowHandle()->frameMargins().isNull();
}

void WindowWidget::look_at_frame() {
  if (framed()) {
    fit_to_screen();
    frame_seen_ = true;
    frame_looks_left_ = 0;
  }
  if (frame_looks_left_-- > 0) QTimer::singleShot(frame_look_interval_ms, this, &WindowWidget::look_at_frame);
}

}  // namespace gui_detail
