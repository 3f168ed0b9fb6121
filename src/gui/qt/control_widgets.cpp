#include "gui/qt/control_widgets.h"

#include <QAbstractScrollArea>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>

#include "gui/qt/peer.h"
#include "gui/qt/widgets.h"

namespace gui_detail {

namespace {

// The frame's bar stands in for the target's own, which stays hidden.
void couple(QScrollBar* inner, QScrollBar* outer) {
  const auto take_range = [outer](int minimum, int maximum) {
    outer->setRange(minimum, maximum);
    outer->setEnabled(maximum > minimum);
  };
  take_range(inner->minimum(), inner->maximum());
  outer->setPageStep(inner->pageStep());
  outer->setSingleStep(inner->singleStep());
  QObject::connect(inner, &QScrollBar::rangeChanged, outer, take_range);
  QObject::connect(inner, &QScrollBar::valueChanged, outer, &QScrollBar::setValue);
  QObject::connect(outer, &QScrollBar::valueChanged, inner, &QScrollBar::setValue);
}

QScrollBar* add_bar(QWidget* frame, QWidget* target, Qt::Orientation orientation, const QRect& place) {
  auto* bar = new QScrollBar(orientation, frame);
  bar->setGeometry(place);
  bar->setEnabled(false);
  if (auto* area = dynamic_cast<QAbstractScrollArea*>(target)) {
    if (orientation == Qt::Vertical) {
      area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
      couple(area->verticalScrollBar(), bar);
    } else {
      area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
      couple(area->horizontalScrollBar(), bar);
    }
  }
  return bar;
}

}  // namespace

LabelWidget::LabelWidget() {
  setTextFormat(Qt::PlainText);
  setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  setFont(to_qfont(default_font_size));
}

void LabelWidget::set_label(const QString& text) {
  constexpr int narrowest = 80;  // percent of the normal width
  QFont narrowed = font();
  for (int stretch = 100; stretch >= narrowest; --stretch) {
    narrowed.setStretch(stretch);
    if (QFontMetrics(narrowed).horizontalAdvance(text) <= width()) break;
  }
  setFont(narrowed);
  setText(text);
}

void LabelWidget::mousePressEvent(QMouseEvent* event) { post_mouse_down(this, event); }

void ButtonWidget::setup(const QString& label, std::shared_ptr<const BMessage> message) {
  setText(label);
  setFont(to_qfont(default_font_size));
  message_ = std::move(message);
  const int needed = sizeHint().height();
  if (height() < needed) resize(width(), needed);
  connect(this, &QPushButton::clicked, this, [this] {
    if (message_) post_to_window(this, std::make_unique<BMessage>(*message_), 0);
  });
}

ListWidget::ListWidget() {
  setFont(to_qfont(default_font_size));
  setFrameShape(QFrame::NoFrame);
  setUniformItemSizes(true);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  set_type(B_SINGLE_SELECTION_LIST);
}

void ListWidget::set_type(list_view_type type) {
  setSelectionMode(type == B_SINGLE_SELECTION_LIST ? QAbstractItemView::SingleSelection
                                                   : QAbstractItemView::ExtendedSelection);
}

int ScrollFrame::border_width(border_style border) {
  switch (border) {
    case B_PLAIN_BORDER:
      return 1;
    case B_FANCY_BORDER:
      return 2;
    case B_NO_BORDER:
      return 0;
  }
  return 0;
}

void ScrollFrame::wrap(QWidget* target, border_style border, bool horizontal, bool vertical) {
  const int width = border_width(border);
  setFrameShape(border == B_NO_BORDER ? QFrame::NoFrame : border == B_PLAIN_BORDER ? QFrame::Box : QFrame::Panel);
  setFrameShadow(border == B_FANCY_BORDER ? QFrame::Sunken : QFrame::Plain);
  setLineWidth(width);
  target->move(width, width);
  const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  const QRect inside = target->geometry();
  if (vertical) add_bar(this, target, Qt::Vertical, QRect(inside.right() + 1, inside.top(), extent, inside.height()));
  if (horizontal) add_bar(this, target, Qt::Horizontal, QRect(inside.left(), inside.bottom() + 1, inside.width(), extent));
  resize(size() + QSize(vertical ? extent : 0, horizontal ? extent : 0));
}

}  // namespace gui_detail
