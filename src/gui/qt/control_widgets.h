// The Qt widgets behind labels, buttons, lists and scroll frames. Private to
// the kit; Qt thread only.
#pragma once

#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include <memory>

#include "gui/interface_defs.h"
#include "gui/message.h"

namespace gui_detail {

class LabelWidget : public QLabel {
 public:
  static QWidget* make() { return new LabelWidget; }
  LabelWidget();
  // A text wider than the label is set a little narrower, down to a limit,
  // rather than cut: the platform's fonts were narrower than the desktop's.
  void set_label(const QString& text);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
};

class ButtonWidget : public QPushButton {
 public:
  static QWidget* make() { return new ButtonWidget; }
  void setup(const QString& label, std::shared_ptr<const BMessage> message);

 private:
  std::shared_ptr<const BMessage> message_;
};

class ListWidget : public QListWidget {
 public:
  static QWidget* make() { return new ListWidget; }
  ListWidget();
  void set_type(list_view_type type);
};

class ScrollFrame : public QFrame {
 public:
  static QWidget* make() { return new ScrollFrame; }
  // Border width in pixels of each style.
  static int border_width(border_style border);
  // Puts `target` (already a child) inside the border and adds the bars.
  void wrap(QWidget* target, border_style border, bool horizontal, bool vertical);
};

}  // namespace gui_detail
