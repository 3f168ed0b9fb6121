#include "gui/font.h"

#include <QFontMetrics>

#include <algorithm>

#include "gui/qt/peer.h"
#include "gui/qt/qt_calls.h"

void BFont::GetHeight(font_height* height) const {
  if (height == nullptr) return;
  *height = font_height{0, 0, 0};
  // Font metrics belong to the Qt thread, as widgets do.
  gui_detail::call_on_qt([&] {
    // Whole pixels, as text views lay lines out: the line spacing is rounded
    // on its own, so the gap is what it leaves beyond ascent and descent.
    const QFontMetrics metrics(gui_detail::to_qfont(size_));
    const int body = metrics.ascent() + metrics.descent();
    *height = font_height{float(metrics.ascent()), float(metrics.descent()),
                          float(std::max(metrics.lineSpacing(), body) - body)};
  });
}
