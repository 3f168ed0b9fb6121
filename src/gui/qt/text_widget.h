// The Qt widget behind a BTextView. It paints its lines itself, one line
// pitch apart, and measures them with the same metrics, so that what it
// reports is what it draws. Private to the kit; Qt thread only.
#pragma once

#include <QColor>
#include <QFont>
#include <QWidget>

#include <bitset>
#include <string>
#include <utility>
#include <vector>

#include "gui/interface_defs.h"
#include "gui/qt/peer.h"

class QScrollBar;

namespace gui_detail {

class TextWidget : public QWidget, public ScrollsContent {
 public:
  static QWidget* make() { return new TextWidget; }
  TextWidget();

  // --- Content -------------------------------------------------------------------------
  void set_text(std::string bytes);
  const std::string& text() const { return bytes_; }
  void set_font_size(float size);
  float font_size() const { return size_; }
  void set_color(const QColor& color);
  const QColor& color() const { return color_; }

  // --- Layout and behaviour --------------------------------------------------------------
  void set_text_rect(const QRect& rect);
  void set_alignment(alignment how);
  void set_word_wrap(bool wrap);
  void set_editable(bool editable);
  void set_selectable(bool selectable);
  void set_max_bytes(int max);
  void set_refused(uint8 first_byte, bool refused);

  // --- Selection -----------------------------------------------------------------------------
  void select(int start, int end);
  std::pair<int, int> selection() const;  // ordered
  void delete_selection();
  void place_caret(const QPoint& at);

  // --- Bounded by its frame ----------------------------------------------------------------
  void set_scrollable(bool scrollable);
  // Scrolls as little as it takes for the line holding `offset` to show.
  void scroll_to(int offset);
  QPoint scroll_origin() const override;

  // --- Measuring -------------------------------------------------------------------------------
  int line_count() const { return static_cast<int>(lines_.size()); }
  int line_width(int line) const;
  int text_height(int from, int to) const;

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  struct Line {
    int begin;    // bytes [begin, end) of the text, without a line break
    int end;
    QString text;
    int lead;     // pixels painted left of the pen position, made room for
    int width;    // every painted pixel, lead included
    int rise;     // pixels painted above the baseline
    int drop;     // pixels painted below it, the baseline's own row included
  };

  void lay_out();
  void lay_out_paragraph(int begin, int end);
  Line make_line(int begin, int end) const;
  int line_of(int offset) const;
  int origin(const Line& line) const;  // x of the line's pen position
  int x_of(const Line& line, int offset) const;
  int offset_at(const QPoint& at) const;
  int next_character(int offset) const;
  int previous_character(int offset) const;
  void move_caret(int to, bool extend);
  void erase(bool forward);
  void insert_typed(const QString& typed);
  void replace_selection(const std::string& bytes);
  void copy() const;
  int top_of(int row) const;  // of a line's row, scrolling included
  int room() const;           // width the lines may paint in
  bool elided(const Line& line) const;
  void update_scroll_bar();

  std::string bytes_;
  QFont font_;
  float size_ = default_font_size;
  QColor color_ = Qt::black;
  QRect text_rect_;
  alignment alignment_ = B_ALIGN_LEFT;
  bool wrap_ = true;
  bool editable_ = true;
  bool selectable_ = true;
  int max_bytes_;
  std::bitset<256> refused_;
  int caret_ = 0;
  int anchor_ = 0;
  bool button_down_ = false;
  bool dragging_ = false;
  std::vector<Line> lines_;
  int pitch_ = 0;
  int ascent_ = 0;
  // Scrollable views only: the bar, and whether the view keeps showing the
  // end of its text as its size changes (it was last scrolled there).
  QScrollBar* bar_ = nullptr;
  bool follow_end_ = false;
  bool adjusting_ = false;  // the bar moves because the view moves it
};

}  // namespace gui_detail
