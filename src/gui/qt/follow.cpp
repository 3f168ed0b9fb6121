#include "gui/qt/follow.h"

#include <QVariant>
#include <QWidget>

#include "gui/qt/peer.h"

namespace gui_detail {

namespace {

constexpr const char* laid_out_property = "wyke_laid_out_size";

// Edge codes of a resizing mode, one per nibble: top, left, bottom, right.
enum EdgeCode : uint32 { follows_top = 1, follows_left = 2, follows_bottom = 3, follows_right = 4, follows_center = 5 };

int shift(uint32 code, int grow) {
  switch (code) {
    case follows_bottom:
    case follows_right:
      return grow;
    case follows_center:
      return grow / 2;
    default:
      return 0;
  }
}

uint32 nibble(uint32 mode, int index) { return (mode >> (4 * (3 - index))) & 0xF; }

}  // namespace

QRect follow(const QRect& child, uint32 mode, const QSize& grow) {
  const int top = child.top() + shift(nibble(mode, 0), grow.height());
  const int left = child.left() + shift(nibble(mode, 1), grow.width());
  const int bottom = child.bottom() + shift(nibble(mode, 2), grow.height());
  const int right = child.right() + shift(nibble(mode, 3), grow.width());
  return QRect(QPoint(left, top), QPoint(right, bottom));
}

void relayout(QWidget* parent) {
  const QVariant before = parent->property(laid_out_property);
  const QSize now = parent->size();
  parent->setProperty(laid_out_property, now);
  if (!before.isValid() || before.toSize() == now) return;
  const QSize grow = now - before.toSize();
  for (QObject* object : parent->children()) {
    auto* child = qobject_cast<QWidget*>(object);
    if (child == nullptr || child->isWindow() || !stands_for_view(child)) continue;
    child->setGeometry(follow(child->geometry(), view_resizing_mode(child), grow));
    relayout(child);
  }
}

}  // namespace gui_detail
