// How views follow their parent when it changes size: the platform's
// resizing modes. Private to the kit.
#pragma once

#include <QRect>
#include <QSize>

#include "platform/types.h"

class QWidget;

namespace gui_detail {

// Where a child's frame goes when its parent grows by `grow` (negative:
// shrinks). Each edge keeps its distance to the parent edge its code in the
// mode names: top or left stay, bottom or right move by the growth, centre by
// half of it.
QRect follow(const QRect& child, uint32 resizing_mode, const QSize& grow);

// Moves the children of `parent` after a change of its size, by how much it
// changed since the last time, and their children in turn.
void relayout(QWidget* parent);

}  // namespace gui_detail
