#include "gui/font.h"

#include <QFontMetrics>

#include <algorithm>

#include "gui/peer.h"
#include "gui/qt_calls.h"

void BFont::GetHeight(font_height* height) const {
  if (height == nullptr) return;
  *height = font_height{0, 0, 0};
  // Font metrics belong to the Qt thread, as widgets do.
  gui_detail::call_on_qt([&] {
    const QFontMetrics metrics(gui_detail::to_qfont(*this));
    *height = font_height{float(metrics.ascent()), float(metrics.descent()), float(std::max(0, metrics.leading()))};
  });
}
