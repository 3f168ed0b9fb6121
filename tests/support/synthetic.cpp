#include "synthetic.h"

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScreen>
#include <QTextDocumentFragment>
#include <QToolTip>
#include <QWheelEvent>
#include <QWindow>

#include <cmath>

#include "gui/message.h"
#include "gui/qt/peer.h"
#include "gui/view.h"
#include "gui/window.h"

namespace gui_synthetic {

namespace {

QWidget* widget_of(const BView& view) {
  gui_detail::run_queued_calls();  // the view's own queued commands first
  return peer_of(view)->widget.data();
}

Qt::MouseButtons qt_buttons(int32 buttons) {
  Qt::MouseButtons held;
  if (buttons & B_PRIMARY_MOUSE_BUTTON) held |= Qt::LeftButton;
  if (buttons & B_SECONDARY_MOUSE_BUTTON) held |= Qt::RightButton;
  if (buttons & B_TERTIARY_MOUSE_BUTTON) held |= Qt::MiddleButton;
  return held;
}

Qt::MouseButton last_of(Qt::MouseButtons held) {
  for (Qt::MouseButton b : {Qt::MiddleButton, Qt::RightButton, Qt::LeftButton})
    if (held & b) return b;
  return Qt::NoButton;
}

void send_mouse(QWidget* widget, QEvent::Type type, const QPoint& at, Qt::MouseButton button,
                Qt::MouseButtons held) {
  QWidget* top = widget->window();
  QWindow* handle = top->windowHandle();
  if (handle != nullptr && top->isVisible()) {
    QMouseEvent event(type, QPointF(widget->mapTo(top, at)), QPointF(widget->mapToGlobal(at)), button, held,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(handle, &event);
  } else {
    QMouseEvent event(type, QPointF(at), QPointF(widget->mapToGlobal(at)), button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
  }
}

void send_key(QWidget* widget, int key, const QString& text) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QCoreApplication::sendEvent(widget, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QCoreApplication::sendEvent(widget, &release);
}

int key_for(char32_t c) {
  switch (c) {
    case '\b':
      return Qt::Key_Backspace;
    case 0x7f:
      return Qt::Key_Delete;
    case '\n':
      return Qt::Key_Return;
    case '\t':
      return Qt::Key_Tab;
    default:
      return c < 0x80 ? int(QChar(c).toUpper().unicode()) : Qt::Key_unknown;
  }
}

}  // namespace

void click(const BView& view, BPoint where, int32 buttons) {
  QWidget* widget = widget_of(view);
  if (widget == nullptr) return;
  const QPoint at(int(std::lround(where.x)), int(std::lround(where.y)));
  const Qt::MouseButtons held = qt_buttons(buttons);
  const Qt::MouseButton last = last_of(held);
  send_mouse(widget, QEvent::MouseButtonPress, at, last, held);
  send_mouse(widget, QEvent::MouseButtonRelease, at, last, held & ~Qt::MouseButtons(last));
}

void type(const BView& view, const char* text) {
  QWidget* widget = widget_of(view);
  if (widget == nullptr) return;
  for (char32_t c : QString::fromUtf8(text).toUcs4()) {
    const QString typed = c == '\n' ? QString("\r") : QString::fromUcs4(&c, 1);
    send_key(widget, key_for(c), typed);
  }
}

void press_help_key(const BWindow& window) {
  QWidget* top = peer_of(window)->widget.data();
  if (top == nullptr) return;
  QWidget* focus = top->focusWidget() ? top->focusWidget() : top;
  send_key(focus, Qt::Key_F1, QString());
}

void close_box(const BWindow& window) {
  gui_detail::run_queued_calls();
  if (QWidget* top = peer_of(window)->widget.data()) top->close();
}

std::vector<std::string> open_alerts() {
  gui_detail::run_queued_calls();
  std::vector<std::string> alerts;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    const auto* box = dynamic_cast<const QMessageBox*>(widget);
    if (box != nullptr && box->isVisible())
      alerts.push_back((box->windowTitle() + ": " + box->text()).toStdString());
  }
  return alerts;
}

void process_events() {
  QCoreApplication::processEvents();
  gui_detail::run_queued_calls();
}

// Qt hides a tooltip only after a delay: gone at once, the next one is news.
void hide_tool_tips() {
  for (QWidget* top : QApplication::topLevelWidgets())
    if (top->inherits("QTipLabel")) top->hide();
}

std::string rest_pointer(const BView& view, BPoint where) {
  QWidget* widget = widget_of(view);
  if (widget == nullptr) return {};
  hide_tool_tips();
  const QPoint at(int(std::lround(where.x)), int(std::lround(where.y)));
  QHelpEvent event(QEvent::ToolTip, at, widget->mapToGlobal(at));
  QCoreApplication::sendEvent(widget, &event);
  if (!QToolTip::isVisible()) return {};
  const std::string shown = QTextDocumentFragment::fromHtml(QToolTip::text()).toPlainText().toStdString();
  hide_tool_tips();
  return shown;
}

void turn_wheel(const BView& view, BPoint where, int notches) {
  QWidget* widget = widget_of(view);
  if (widget == nullptr) return;
  const QPointF at(where.x, where.y);
  QWheelEvent event(at, widget->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(widget, &event);
  process_events();
}

BRect available_screen_area(const BWindow& window) {
  gui_detail::run_queued_calls();
  const QWidget* widget = peer_of(window)->widget.data();
  const QScreen* screen = widget != nullptr ? widget->screen() : QGuiApplication::primaryScreen();
  return gui_detail::to_brect(screen->availableGeometry());
}

Snapshot snapshot(const BView& view) {
  Snapshot shot;
  QWidget* widget = widget_of(view);
  if (widget == nullptr) return shot;
  const QImage image = widget->grab().toImage().convertToFormat(QImage::Format_ARGB32);
  shot.width = image.width();
  shot.height = image.height();
  shot.pixels.reserve(static_cast<std::size_t>(shot.width * shot.height));
  for (int y = 0; y < shot.height; ++y)
    for (int x = 0; x < shot.width; ++x) shot.pixels.push_back(image.pixel(x, y));
  return shot;
}

}  // namespace gui_synthetic
