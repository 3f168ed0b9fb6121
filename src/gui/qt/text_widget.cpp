#include "gui/qt/text_widget.h"

#include <QClipboard>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QToolTip>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "gui/qt/peer.h"
#include "gui/qt/widgets.h"

namespace gui_detail {

namespace {

bool continuation_byte(char c) { return (static_cast<uint8>(c) & 0xC0) == 0x80; }

QColor selection_colour() { return QColor(176, 200, 240); }

}  // namespace

TextWidget::TextWidget() : font_(to_qfont(default_font_size)), max_bytes_(INT_MAX) {
  setAutoFillBackground(true);
  set_editable(true);
  lay_out();
}

// --- Content ---------------------------------------------------------------------------

void TextWidget::set_text(std::string bytes) {
  bytes_ = std::move(bytes);
  caret_ = anchor_ = 0;
  follow_end_ = false;
  if (bar_) {
    adjusting_ = true;
    bar_->setValue(0);
    adjusting_ = false;
  }
  lay_out();
}

void TextWidget::set_font_size(float size) {
  size_ = size;
  font_ = to_qfont(size);
  lay_out();
}

void TextWidget::set_color(const QColor& color) {
  color_ = color;
  update();
}

// --- Layout and behaviour ----------------------------------------------------------------

void TextWidget::set_text_rect(const QRect& rect) {
  text_rect_ = rect;
  lay_out();
}

void TextWidget::set_alignment(alignment how) {
  alignment_ = how;
  update();
}

void TextWidget::set_word_wrap(bool wrap) {
  wrap_ = wrap;
  lay_out();
}

void TextWidget::set_editable(bool editable) {
  editable_ = editable;
  setFocusPolicy(editable_ ? Qt::StrongFocus : selectable_ ? Qt::ClickFocus : Qt::NoFocus);
  setCursor(editable_ ? Qt::IBeamCursor : Qt::ArrowCursor);
  update();
}

void TextWidget::set_selectable(bool selectable) {
  selectable_ = selectable;
  set_editable(editable_);
}

void TextWidget::set_max_bytes(int max) { max_bytes_ = std::max(0, max); }

void TextWidget::set_refused(uint8 first_byte, bool refused) { refused_[first_byte] = refused; }

// --- Bounded by its frame ------------------------------------------------------------------

void TextWidget::set_scrollable(bool scrollable) {
  if (scrollable == (bar_ != nullptr)) return;
  if (!scrollable) {
    delete bar_;
    bar_ = nullptr;
    follow_end_ = false;
  } else {
    bar_ = new QScrollBar(Qt::Vertical, this);
    bar_->hide();
    // A secondary click on the bar is the view's, as anywhere on it.
    bar_->setContextMenuPolicy(Qt::NoContextMenu);
    connect(bar_, &QScrollBar::valueChanged, this, [this](int value) {
      if (!adjusting_) follow_end_ = value == bar_->maximum();
      update();
    });
  }
  update_scroll_bar();
  update();
}

void TextWidget::scroll_to(int offset) {
  if (!bar_) return;
  update_scroll_bar();  // the size may have changed while the view was hidden
  const int top = text_rect_.top() + line_of(offset) * pitch_;
  int value = bar_->value();
  if (top < value) value = top;
  if (top + pitch_ > value + height()) value = top + pitch_ - height();
  adjusting_ = true;
  bar_->setValue(value);
  adjusting_ = false;
  follow_end_ = bar_->value() == bar_->maximum();
}

QPoint TextWidget::scroll_origin() const { return QPoint(0, bar_ ? bar_->value() : 0); }

int TextWidget::top_of(int row) const { return text_rect_.top() + row * pitch_ - scroll_origin().y(); }

int TextWidget::room() const { return bar_ && bar_->isVisibleTo(this) ? bar_->x() : width(); }

bool TextWidget::elided(const Line& line) const {
  return bar_ != nullptr && origin(line) - line.lead + line.width > room();
}

// The bar shows when the lines reach below the view, at its right edge.
void TextWidget::update_scroll_bar() {
  if (!bar_) return;
  const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  const int overflow = std::max(0, text_rect_.top() + line_count() * pitch_ - height());
  adjusting_ = true;
  bar_->setRange(0, overflow);
  bar_->setPageStep(std::max(1, height()));
  bar_->setSingleStep(std::max(1, pitch_));
  if (follow_end_) bar_->setValue(overflow);
  adjusting_ = false;
  bar_->setGeometry(width() - extent, 0, extent, height());
  bar_->setVisible(overflow > 0);
}

// --- Lines -------------------------------------------------------------------------------

void TextWidget::lay_out() {
  lines_.clear();
  int begin = 0;
  for (;;) {
    const std::size_t newline = bytes_.find('\n', static_cast<std::size_t>(begin));
    const int end = newline == std::string::npos ? static_cast<int>(bytes_.size()) : static_cast<int>(newline);
    lay_out_paragraph(begin, end);
    if (newline == std::string::npos) break;
    begin = end + 1;
  }
  // One pitch for every line, tall enough for the font and for every glyph
  // of this text (some reach past the font's ascent or descent).
  const QFontMetrics metrics(font_);
  ascent_ = metrics.ascent();
  int descent = metrics.descent();
  for (const Line& line : lines_) {
    ascent_ = std::max(ascent_, line.rise);
    descent = std::max(descent, line.drop);
  }
  pitch_ = std::max(metrics.lineSpacing(), ascent_ + descent);
  update_scroll_bar();
  update();
}

// Without wrapping a paragraph is one line. With it, each line takes as many
// blank-ended words as fit the text rectangle; a word wider than that stays
// whole on a line of its own.
void TextWidget::lay_out_paragraph(int begin, int end) {
  if (!wrap_ || begin == end) {
    lines_.push_back(make_line(begin, end));
    return;
  }
  const int limit = text_rect_.width();
  while (begin < end) {
    int best = begin;
    for (int cut = begin; cut < end;) {
      const std::size_t blank = bytes_.find(' ', static_cast<std::size_t>(cut));
      cut = (blank == std::string::npos || static_cast<int>(blank) >= end) ? end : static_cast<int>(blank) + 1;
      const bool fits = make_line(begin, cut).width <= limit;
      if (fits || best == begin) best = cut;
      if (!fits) break;
    }
    lines_.push_back(make_line(begin, best));
    begin = best;
  }
}

TextWidget::Line TextWidget::make_line(int begin, int end) const {
  Line line{begin, end, QString::fromUtf8(bytes_.data() + begin, end - begin), 0, 0, 0, 0};
  if (line.text.isEmpty()) return line;
  // The advance can fall a pixel or two short of what the glyphs paint, and
  // a glyph may reach left of the pen: the ink box counts as well.
  const QFontMetrics metrics(font_);
  const QRect ink = metrics.boundingRect(line.text);
  line.lead = std::max(0, -ink.left());
  line.width = line.lead + std::max(metrics.horizontalAdvance(line.text), ink.right() + 1);
  line.rise = -ink.top();
  line.drop = ink.bottom() + 1;
  return line;
}

int TextWidget::line_width(int line) const {
  if (line < 0 || line >= line_count()) return 0;
  return lines_[static_cast<std::size_t>(line)].width;
}

int TextWidget::text_height(int from, int to) const {
  from = std::max(from, 0);
  to = std::min(to, line_count() - 1);
  return to < from ? 0 : (to - from + 1) * pitch_;
}

int TextWidget::line_of(int offset) const {
  int found = 0;
  for (int i = 0; i < line_count(); ++i)
    if (lines_[static_cast<std::size_t>(i)].begin <= offset) found = i;
  return found;
}

int TextWidget::origin(const Line& line) const {
  const int room = text_rect_.width() - line.width;
  const int shift = alignment_ == B_ALIGN_RIGHT ? room : alignment_ == B_ALIGN_CENTER ? room / 2 : 0;
  return text_rect_.left() + shift + line.lead;
}

int TextWidget::x_of(const Line& line, int offset) const {
  const int within = std::clamp(offset, line.begin, line.end) - line.begin;
  return origin(line) + QFontMetrics(font_).horizontalAdvance(QString::fromUtf8(bytes_.data() + line.begin, within));
}

int TextWidget::offset_at(const QPoint& at) const {
  const int row = pitch_ > 0 ? (at.y() + scroll_origin().y() - text_rect_.top()) / pitch_ : 0;
  const Line& line = lines_[static_cast<std::size_t>(std::clamp(row, 0, line_count() - 1))];
  int best = line.begin;
  for (int offset = line.begin; offset <= line.end; offset = next_character(offset)) {
    if (std::abs(x_of(line, offset) - at.x()) < std::abs(x_of(line, best) - at.x())) best = offset;
    if (offset == line.end) break;
  }
  return best;
}

int TextWidget::next_character(int offset) const {
  const int size = static_cast<int>(bytes_.size());
  if (offset >= size) return size;
  ++offset;
  while (offset < size && continuation_byte(bytes_[static_cast<std::size_t>(offset)])) ++offset;
  return offset;
}

int TextWidget::previous_character(int offset) const {
  if (offset <= 0) return 0;
  --offset;
  while (offset > 0 && continuation_byte(bytes_[static_cast<std::size_t>(offset)])) --offset;
  return offset;
}

// --- Selection and editing --------------------------------------------------------------

void TextWidget::select(int start, int end) {
  const int size = static_cast<int>(bytes_.size());
  anchor_ = std::clamp(start, 0, size);
  caret_ = std::clamp(end, 0, size);
  while (anchor_ < size && continuation_byte(bytes_[static_cast<std::size_t>(anchor_)])) ++anchor_;
  while (caret_ < size && continuation_byte(bytes_[static_cast<std::size_t>(caret_)])) ++caret_;
  update();
}

std::pair<int, int> TextWidget::selection() const { return std::minmax(anchor_, caret_); }

void TextWidget::delete_selection() { replace_selection(std::string()); }

void TextWidget::place_caret(const QPoint& at) {
  if (!editable_ && !selectable_) return;
  setFocus(Qt::MouseFocusReason);
  caret_ = anchor_ = offset_at(at);
  dragging_ = button_down_;
  update();
}

void TextWidget::move_caret(int to, bool extend) {
  caret_ = to;
  if (!extend) anchor_ = to;
  update();
}

void TextWidget::erase(bool forward) {
  if (anchor_ == caret_) anchor_ = forward ? next_character(caret_) : previous_character(caret_);
  replace_selection(std::string());
}

// Typed (or pasted) text passes the filters character by character: refused
// characters and those that would pass the byte limit are left out.
void TextWidget::insert_typed(const QString& typed) {
  const auto [start, end] = selection();
  const std::size_t kept = bytes_.size() - static_cast<std::size_t>(end - start);
  std::string accepted;
  for (char32_t c : typed.toUcs4()) {
    if (c == '\r') c = '\n';
    if (c < 0x20 && c != '\n' && c != '\t') continue;  // control keys are no characters
    const std::string bytes = QString::fromUcs4(&c, 1).toStdString();
    if (bytes.empty() || refused_[static_cast<uint8>(bytes[0])]) continue;
    if (kept + accepted.size() + bytes.size() > static_cast<std::size_t>(max_bytes_)) continue;
    accepted += bytes;
  }
  if (!accepted.empty()) replace_selection(accepted);
}

void TextWidget::replace_selection(const std::string& bytes) {
  const auto [start, end] = selection();
  bytes_.replace(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start), bytes);
  caret_ = anchor_ = start + static_cast<int>(bytes.size());
  lay_out();
}

void TextWidget::copy() const {
  const auto [start, end] = selection();
  if (!selectable_ || start == end) return;
  QGuiApplication::clipboard()->setText(QString::fromUtf8(bytes_.data() + start, end - start));
}

// --- Events ------------------------------------------------------------------------------

bool TextWidget::event(QEvent* event) {
  // A tooltip of the view's own comes first; otherwise a cut line shows whole.
  if (event->type() != QEvent::ToolTip || !toolTip().isEmpty() || !bar_) return QWidget::event(event);
  const auto* help = static_cast<QHelpEvent*>(event);
  const int below_top = help->pos().y() - top_of(0);
  const int row = pitch_ > 0 && below_top >= 0 ? below_top / pitch_ : -1;
  if (row >= 0 && row < line_count() && elided(lines_[static_cast<std::size_t>(row)])) {
    QToolTip::showText(help->globalPos(), plain_tool_tip_markup(lines_[static_cast<std::size_t>(row)].text), this,
                       QRect(0, top_of(row), room(), pitch_));
  } else {
    QToolTip::hideText();
    event->ignore();
  }
  return true;
}

// Only the lines the damage reaches are drawn: a long text costs what shows.
void TextWidget::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.setFont(font_);
  const QFontMetrics metrics(font_);
  const auto [start, end] = selection();
  const QRect damage = event->rect();
  const int first = pitch_ > 0 ? std::max(0, (damage.top() - top_of(0)) / pitch_) : 0;
  for (int i = first; i < line_count(); ++i) {
    const Line& line = lines_[static_cast<std::size_t>(i)];
    const int top = top_of(i);
    if (top > damage.bottom()) break;
    const int from = std::max(start, line.begin);
    const int to = std::min(end, line.end);
    if (selectable_ && from < to)
      painter.fillRect(QRect(x_of(line, from), top, x_of(line, to) - x_of(line, from), pitch_), selection_colour());
    painter.setPen(color_);
    const QString shown =
        elided(line) ? metrics.elidedText(line.text, Qt::ElideRight, room() - origin(line)) : line.text;
    painter.drawText(QPoint(origin(line), top + ascent_), shown);
  }
  if (editable_ && hasFocus()) {
    const int row = line_of(caret_);
    const Line& line = lines_[static_cast<std::size_t>(row)];
    painter.fillRect(QRect(x_of(line, caret_), top_of(row), 1, pitch_), color_);
  }
}

void TextWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  update_scroll_bar();
}

void TextWidget::wheelEvent(QWheelEvent* event) {
  if (bar_ && bar_->isVisibleTo(this))
    QCoreApplication::sendEvent(bar_, event);
  else
    event->ignore();
}

void TextWidget::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Copy)) {
    copy();
    return;
  }
  if (!editable_) {
    event->ignore();
    return;
  }
  const bool extend = event->modifiers() & Qt::ShiftModifier;
  const Line& line = lines_[static_cast<std::size_t>(line_of(caret_))];
  if (event->matches(QKeySequence::SelectAll)) {
    select(0, static_cast<int>(bytes_.size()));
  } else if (event->matches(QKeySequence::Cut)) {
    copy();
    if (selectable_) delete_selection();
  } else if (event->matches(QKeySequence::Paste)) {
    insert_typed(QGuiApplication::clipboard()->text());
  } else if (event->key() == Qt::Key_Backspace) {
    erase(false);
  } else if (event->key() == Qt::Key_Delete) {
    erase(true);
  } else if (event->key() == Qt::Key_Left) {
    move_caret(previous_character(caret_), extend);
  } else if (event->key() == Qt::Key_Right) {
    move_caret(next_character(caret_), extend);
  } else if (event->key() == Qt::Key_Home) {
    move_caret(line.begin, extend);
  } else if (event->key() == Qt::Key_End) {
    move_caret(line.end, extend);
  } else if (!event->text().isEmpty()) {
    insert_typed(event->text());
  } else {
    event->ignore();
  }
}

void TextWidget::mousePressEvent(QMouseEvent* event) {
  button_down_ = true;
  post_mouse_down(this, event);
}

void TextWidget::mouseDoubleClickEvent(QMouseEvent* event) { mousePressEvent(event); }

void TextWidget::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_ || !(event->buttons() & Qt::LeftButton)) return;
  caret_ = offset_at(event->position().toPoint());
  update();
}

void TextWidget::mouseReleaseEvent(QMouseEvent*) { button_down_ = dragging_ = false; }

void TextWidget::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  update();
}

void TextWidget::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  update();
}

}  // namespace gui_detail
