#include "gui/text_view.h"

#include <climits>
#include <cmath>
#include <cstring>

#include "gui/qt/peer.h"
#include "gui/qt/text_widget.h"

using gui_detail::command;
using gui_detail::query;
using gui_detail::TextWidget;

BTextView::BTextView(BRect frame, const char* name, BRect text_rect, uint32 resizing_mode, uint32 flags)
    : BView(frame, name, resizing_mode, flags, &TextWidget::make), text_rect_(text_rect), max_bytes_(INT32_MAX) {
  SetViewColor(255, 255, 255);
  SetTextRect(text_rect);
}

// --- Text -------------------------------------------------------------------------------

void BTextView::SetText(const char* text, int32 length) {
  std::string bytes = text == nullptr ? std::string() : std::string(text, static_cast<std::size_t>(std::max(0, length)));
  command<TextWidget>(peer(), [bytes = std::move(bytes)](TextWidget& w) { w.set_text(bytes); });
}

void BTextView::SetText(const char* text) {
  SetText(text, text == nullptr ? 0 : static_cast<int32>(std::strlen(text)));
}

const char* BTextView::Text() const {
  text_ = query<TextWidget>(peer(), std::string(), [](TextWidget& w) { return w.text(); });
  return text_.c_str();
}

int32 BTextView::TextLength() const {
  return query<TextWidget>(peer(), int32(0), [](TextWidget& w) { return static_cast<int32>(w.text().size()); });
}

// --- Font -------------------------------------------------------------------------------

void BTextView::GetFontAndColor(int32, BFont* font, rgb_color* color) const {
  struct Look {
    float size;
    QColor color;
  };
  const Look look = query<TextWidget>(peer(), Look{BFont().Size(), Qt::black},
                                      [](TextWidget& w) { return Look{w.font_size(), w.color()}; });
  if (font != nullptr) font->SetSize(look.size);
  if (color != nullptr)
    *color = rgb_color{uint8(look.color.red()), uint8(look.color.green()), uint8(look.color.blue()),
                       uint8(look.color.alpha())};
}

void BTextView::SetFontAndColor(const BFont* font, uint32 mask, const rgb_color* color) {
  if (font != nullptr && (mask & B_FONT_SIZE)) {
    const float size = font->Size();
    command<TextWidget>(peer(), [size](TextWidget& w) { w.set_font_size(size); });
  }
  if (color != nullptr) {
    const QColor qt = gui_detail::to_qcolor(*color);
    command<TextWidget>(peer(), [qt](TextWidget& w) { w.set_color(qt); });
  }
}

// --- Measuring -------------------------------------------------------------------------

int32 BTextView::CountLines() const {
  return query<TextWidget>(peer(), int32(0), [](TextWidget& w) { return static_cast<int32>(w.line_count()); });
}

float BTextView::LineWidth(int32 line) const {
  return query<TextWidget>(peer(), 0.0f, [line](TextWidget& w) { return float(w.line_width(line)); });
}

float BTextView::TextHeight(int32 from, int32 to) const {
  return query<TextWidget>(peer(), 0.0f, [from, to](TextWidget& w) { return float(w.text_height(from, to)); });
}

void BTextView::SetTextRect(BRect rect) {
  text_rect_ = rect;
  command<TextWidget>(peer(), [r = gui_detail::to_qrect(rect)](TextWidget& w) { w.set_text_rect(r); });
}

// --- Behaviour ---------------------------------------------------------------------------

void BTextView::MakeEditable(bool editable) {
  editable_ = editable;
  command<TextWidget>(peer(), [editable](TextWidget& w) { w.set_editable(editable); });
}

void BTextView::MakeSelectable(bool selectable) {
  selectable_ = selectable;
  command<TextWidget>(peer(), [selectable](TextWidget& w) { w.set_selectable(selectable); });
}

void BTextView::SetWordWrap(bool wrap) {
  wrap_ = wrap;
  command<TextWidget>(peer(), [wrap](TextWidget& w) { w.set_word_wrap(wrap); });
}

void BTextView::SetAlignment(alignment how) {
  alignment_ = how;
  command<TextWidget>(peer(), [how](TextWidget& w) { w.set_alignment(how); });
}

void BTextView::MakeScrollable(bool scrollable) {
  scrollable_ = scrollable;
  command<TextWidget>(peer(), [scrollable](TextWidget& w) { w.set_scrollable(scrollable); });
}

void BTextView::ScrollToOffset(int32 offset) {
  command<TextWidget>(peer(), [offset](TextWidget& w) { w.scroll_to(offset); });
}

void BTextView::SetMaxBytes(int32 max) {
  max_bytes_ = max;
  command<TextWidget>(peer(), [max](TextWidget& w) { w.set_max_bytes(max); });
}

void BTextView::DisallowChar(uint32 character) {
  command<TextWidget>(peer(), [character](TextWidget& w) { w.set_refused(uint8(character), true); });
}

void BTextView::AllowChar(uint32 character) {
  command<TextWidget>(peer(), [character](TextWidget& w) { w.set_refused(uint8(character), false); });
}

// --- Selection -----------------------------------------------------------------------------

void BTextView::SelectAll() { Select(0, INT32_MAX); }

void BTextView::Select(int32 start, int32 end) {
  command<TextWidget>(peer(), [start, end](TextWidget& w) { w.select(start, end); });
}

void BTextView::GetSelection(int32* start, int32* end) const {
  const auto range = query<TextWidget>(peer(), std::pair<int, int>(0, 0), [](TextWidget& w) { return w.selection(); });
  if (start != nullptr) *start = range.first;
  if (end != nullptr) *end = range.second;
}

void BTextView::Delete() {
  command<TextWidget>(peer(), [](TextWidget& w) { w.delete_selection(); });
}

void BTextView::MouseDown(BPoint where) {
  const QPoint at(static_cast<int>(std::lround(where.x)), static_cast<int>(std::lround(where.y)));
  command<TextWidget>(peer(), [at](TextWidget& w) { w.place_caret(at); });
}
