// Points, rectangles and colours in the platform's shape.
//
// Rectangles are inclusive: BRect(0, 0, 99, 49) covers 100 by 50 pixels, so
// Width() is right - left, one less than the pixel count.
#pragma once

#include "platform/types.h"

struct BPoint {
  float x = 0;
  float y = 0;

  constexpr BPoint() = default;
  constexpr BPoint(float x_, float y_) : x(x_), y(y_) {}
  friend constexpr bool operator==(const BPoint&, const BPoint&) = default;
};

struct BRect {
  float left = 0;
  float top = 0;
  float right = -1;
  float bottom = -1;

  constexpr BRect() = default;
  constexpr BRect(float l, float t, float r, float b) : left(l), top(t), right(r), bottom(b) {}

  constexpr float Width() const { return right - left; }
  constexpr float Height() const { return bottom - top; }
  constexpr BPoint LeftTop() const { return {left, top}; }
  constexpr bool Contains(const BRect& r) const {
    return r.left >= left && r.top >= top && r.right <= right && r.bottom <= bottom;
  }
  friend constexpr bool operator==(const BRect&, const BRect&) = default;
};

struct rgb_color {
  uint8 red = 0;
  uint8 green = 0;
  uint8 blue = 0;
  uint8 alpha = 255;
  friend constexpr bool operator==(const rgb_color&, const rgb_color&) = default;
};
