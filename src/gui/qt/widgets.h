// The Qt widgets behind plain views and windows, and how a widget speaks to
// its window's thread. Private to the kit; Qt thread only.
#pragma once

#include <QWidget>

#include <memory>

#include "gui/interface_defs.h"
#include "gui/message.h"

class QMouseEvent;

namespace gui_detail {

class Port;

// Posts a message from a widget to the thread of the window it is in, for the
// handler `target` (0: the window). Dropped when the window has gone.
void post_to_window(const QWidget* from, std::unique_ptr<BMessage> message, uint64 target);

// A press of mouse buttons over a view's widget becomes B_MOUSE_DOWN for the
// view, with "buttons" (all buttons held, or-ed) and "where" (view coordinates).
void post_mouse_down(const QWidget* view_widget, const QMouseEvent* event);

// Stands for a plain BView.
class ViewWidget : public QWidget {
 public:
  static QWidget* make() { return new ViewWidget; }
  ViewWidget() { setAutoFillBackground(true); }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
};

// Stands for a window, and for the view that covers it.
class WindowWidget : public ViewWidget {
 public:
  static QWidget* make() { return new WindowWidget; }

  void setup(std::shared_ptr<Port> port, const QString& title, window_type type, uint32 flags, uint32 workspaces);
  const std::shared_ptr<Port>& port() const { return port_; }

  // The content area becomes `size`, as far as the screen leaves room for it.
  void resize_content(const QSize& size);
  // Restoring never takes the focus: a window that had it before it was
  // minimized is activated by the program if it wants it back.
  void minimize(bool minimize);
  void set_close_action(void (*action)()) { close_action_ = action; }

 protected:
  // The close box asks the window's thread (B_QUIT_REQUESTED); the widget
  // stays until the window quits.
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void fit_to_screen();
  QMargins frame_margins() const;
  void look_at_frame();
  bool framed() const;

  // Ten seconds of looking for the frame: a window manager takes a few
  // milliseconds, but seconds on a machine under load.
  static constexpr int frame_looks = 200;
  static constexpr int frame_look_interval_ms = 50;
  static constexpr int map_grace_ms = 1000;

  std::shared_ptr<Port> port_;
  bool fixed_size_ = false;
  void (*close_action_)() = nullptr;
  QSize wanted_;            // the content size the program asked for
  QSize fitted_;            // what the last fit made of it
  int frame_looks_left_ = 0;
  bool frame_seen_ = false;  // the window manager has framed it once
  bool shown_anew_ = false;  // after a first show that never reached the screen
};

}  // namespace gui_detail
