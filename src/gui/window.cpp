#include "gui/window.h"

#include "gui/qt/peer.h"
#include "gui/qt/port.h"
#include "gui/qt/widgets.h"
#include "gui/qt/window_list.h"

using gui_detail::command;
using gui_detail::query;
using gui_detail::WindowWidget;

namespace {
// The platform's default: twice a second, for views that ask for it.
constexpr bigtime_t default_pulse_rate = 500000;
}  // namespace

BWindow::BWindow(BRect frame, const char* title, window_type type, uint32 flags, uint32 workspaces)
    : BLooper(title),
      type_(type),
      flags_(flags),
      workspaces_(workspaces),
      top_view_(new BView(frame, "", B_FOLLOW_ALL, B_WILL_DRAW, &WindowWidget::make)) {
  top_view_->attach(this);
  command<WindowWidget>(top_view_->peer(), [port = shared_port(), name = QString::fromUtf8(Name()), type, flags,
                                             workspaces](WindowWidget& w) { w.setup(port, name, type, flags, workspaces); });
  port().set_pulse_rate(default_pulse_rate);
  gui_detail::register_window(this, shared_port());
}

BWindow::~BWindow() {
  gui_detail::unregister_window(this);
  delete top_view_;
}

void BWindow::SetCloseAction(void (*action)()) {
  command<WindowWidget>(top_view_->peer(), [action](WindowWidget& w) { w.set_close_action(action); });
}

void BWindow::Show() {
  command<WindowWidget>(top_view_->peer(), [](WindowWidget& w) { w.show(); });
  if (started()) return;
  gui_detail::window_started(this);
  Run();
}

bool BWindow::IsHidden() const {
  return query<WindowWidget>(top_view_->peer(), true, [](WindowWidget& w) { return !w.isVisible(); });
}

void BWindow::Minimize(bool minimize) {
  command<WindowWidget>(top_view_->peer(), [minimize](WindowWidget& w) { w.minimize(minimize); });
}

bool BWindow::IsMinimized() const {
  return query<WindowWidget>(top_view_->peer(), false, [](WindowWidget& w) { return w.isMinimized(); });
}

void BWindow::Activate(bool active) {
  if (!active) return;
  command<WindowWidget>(top_view_->peer(), [](WindowWidget& w) {
    if (!w.isVisible()) return;
    w.raise();
    w.activateWindow();
  });
}

// A minimized window is not the one the user works in, whatever Qt still
// believes: its news of the focus moving away can come late on a busy
// desktop, and a restore that trusted it would take the focus.
bool BWindow::IsActive() const {
  return query<WindowWidget>(top_view_->peer(), false,
                             [](WindowWidget& w) { return w.isActiveWindow() && !w.isMinimized(); });
}

void BWindow::ResizeTo(float width, float height) {
  const QSize size = gui_detail::to_qrect(BRect(0, 0, width, height)).size();
  command<WindowWidget>(top_view_->peer(), [size](WindowWidget& w) { w.resize_content(size); });
}

BRect BWindow::Bounds() const { return top_view_->Bounds(); }

BRect BWindow::Frame() const { return top_view_->Frame(); }

void BWindow::AddChild(BView* view, BView* before) { top_view_->AddChild(view, before); }

BView* BWindow::ChildAt(int32 index) const { return top_view_->ChildAt(index); }

int32 BWindow::CountChildren() const { return top_view_->CountChildren(); }

BView* BWindow::FindView(const char* name) const {
  for (int32 i = 0; i < top_view_->CountChildren(); ++i)
    if (BView* found = top_view_->ChildAt(i)->FindView(name)) return found;
  return nullptr;
}

void BWindow::SetPulseRate(bigtime_t rate) { port().set_pulse_rate(rate); }

bigtime_t BWindow::PulseRate() const { return port().pulse_rate(); }

void BWindow::DispatchMessage(BMessage* message, BHandler* handler) {
  auto* view = dynamic_cast<BView*>(handler);
  if (message->what == B_MOUSE_DOWN && view != nullptr) {
    BPoint where;
    message->FindPoint("where", &where);
    view->MouseDown(where);
    return;
  }
  BLooper::DispatchMessage(message, handler);
}

BHandler* BWindow::handler_for(uint64 token) {
  if (BHandler* self = BLooper::handler_for(token)) return self;
  return top_view_->find_token(token);
}

void BWindow::pulse() {
  std::vector<uint64> tokens;
  top_view_->collect_pulse_views(tokens);
  // Looked up one by one: a Pulse may delete views.
  for (uint64 token : tokens)
    if (BView* view = top_view_->find_token(token)) view->Pulse();
}

const std::shared_ptr<gui_detail::Peer>& peer_of(const BWindow& window) { return peer_of(*window.top_view_); }
