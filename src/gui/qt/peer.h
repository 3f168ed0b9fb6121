// The Qt widget behind a view, and the two ways a view's thread reaches it.
// Private to the kit; only the Qt thread touches `widget`.
#pragma once

#include <QFont>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <memory>

#include "gui/geometry.h"
#include "gui/qt/qt_calls.h"

namespace gui_detail {

struct Peer {
  QPointer<QWidget> widget;  // made by a queued call; gone when the view is
};

using PeerHandle = std::shared_ptr<Peer>;

// Queues `change` for the peer's widget (of class W), in order with every
// other call; nothing happens when the widget is not there.
template <class W, class F>
void command(const PeerHandle& peer, F change) {
  post_to_qt([peer, change]() mutable {
    if (auto* w = dynamic_cast<W*>(peer->widget.data())) change(*w);
  });
}

// Asks the peer's widget and waits for the answer; `fallback` when the widget
// is not there or the application is quitting.
template <class W, class R, class F>
R query(const PeerHandle& peer, R fallback, F ask) {
  R answer = fallback;
  call_on_qt([&] {
    if (auto* w = dynamic_cast<W*>(peer->widget.data())) answer = ask(*w);
  });
  return answer;
}

// --- Platform values in Qt's terms ----------------------------------------------

// Inclusive rectangles: BRect(0, 0, 99, 49) is QRect(0, 0, 100, 50).
QRect to_qrect(const BRect& r);
BRect to_brect(const QRect& r);
QColor to_qcolor(const rgb_color& c);
// The desktop's plain font at `size` pixels (see BFont).
QFont to_qfont(float size);

// --- What a widget knows of its view ----------------------------------------------

// The view's token (messages from the widget name it) and resizing mode.
void set_view_identity(QWidget* widget, uint64 token, uint32 resizing_mode);
uint64 view_token(const QWidget* widget);
// False for widgets that stand for no view (Qt's own inner parts).
bool stands_for_view(const QWidget* widget);
uint32 view_resizing_mode(const QWidget* widget);

// --- Tooltips ---------------------------------------------------------------------

// Tooltips show text as it is, never as markup: they may hold what a server
// or a sender wrote. A very long one is cut, with "…".
QString plain_tool_tip_markup(const QString& text);
void set_plain_tool_tip(QWidget& widget, const std::string& text);
std::string plain_tool_tip(const QWidget& widget);

// A widget whose content scrolls: the point of the content at its top left,
// which is where its view's bounds begin.
class ScrollsContent {
 public:
  virtual ~ScrollsContent() = default;
  virtual QPoint scroll_origin() const = 0;
};

}  // namespace gui_detail
