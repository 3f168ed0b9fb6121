// Fonts. A size is in the platform's points, which it drew one to a pixel
// (72 dots per inch); the fixed rectangles of a form are laid out in those
// pixels, so sizes here are pixel sizes and a form holds its text.
#pragma once

#include "gui/interface_defs.h"
#include "platform/types.h"

// Which attributes SetFontAndColor applies.
inline constexpr uint32 B_FONT_SIZE = 0x2;
inline constexpr uint32 B_FONT_ALL = 0xFF;

// Pixels of a line of text: above the baseline, below it, and the gap to
// the next line. Their sum is the height of an empty line of a text view in
// the font (glyphs that reach further make a line taller).
struct font_height {
  float ascent;
  float descent;
  float leading;
};

class BFont {
 public:
  // The plain font of the desktop at the platform's default size.
  BFont() = default;

  void SetSize(float size) { size_ = size; }
  float Size() const { return size_; }
  // Any thread; all zero once the application is quitting.
  void GetHeight(font_height* height) const;

  friend bool operator==(const BFont&, const BFont&) = default;

 private:
  float size_ = default_font_size;
};
