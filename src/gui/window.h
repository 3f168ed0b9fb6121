// Windows: a top-level Qt widget and a thread of its own that handles the
// window's messages and pulses its views.
#pragma once

#include "gui/geometry.h"
#include "gui/interface_defs.h"
#include "gui/looper.h"
#include "gui/view.h"

// Threads: a window is made on any thread and starts hidden, with no thread
// of its own; its first Show starts the thread. From then on every call
// belongs to that thread (hooks run there), except Show, Quit and
// PostMessage, which any thread may call. Calls that answer wait for the Qt
// thread; calls that change something do not.
class BWindow : public BLooper {
 public:
  // `frame` is the content area on the screen, inclusive.
  BWindow(BRect frame, const char* title, window_type type, uint32 flags,
          uint32 workspaces = B_CURRENT_WORKSPACE);
  ~BWindow() override;

  // --- Showing ---------------------------------------------------------------------------

  void Show();
  bool IsHidden() const;
  // True minimizes (iconifies), false restores, leaving the focus where it
  // is (Activate gives it). A window not shown yet stays hidden and shows in
  // that state.
  void Minimize(bool minimize);
  bool IsMinimized() const;
  // True raises the window and gives it the focus. False leaves the focus
  // where it is: an X11 client cannot hand it away.
  void Activate(bool active = true);
  bool IsActive() const;

  // --- Geometry ---------------------------------------------------------------------------

  // The content area becomes width + 1 by height + 1 pixels, as far as the
  // available area of the screen (without panels) leaves room for it and its
  // frame; the views follow. Cut in height, it gets a scroll bar's width more.
  void ResizeTo(float width, float height);
  // The content area: origin 0, 0.
  BRect Bounds() const;
  // The content area on the screen.
  BRect Frame() const;

  // --- Views ------------------------------------------------------------------------------

  void AddChild(BView* view, BView* before = nullptr);
  BView* ChildAt(int32 index) const;
  int32 CountChildren() const;
  // Anywhere in the window, depth first.
  BView* FindView(const char* name) const;

  // --- Pulse ------------------------------------------------------------------------------

  // Microseconds between pulses; 0 stops them. Any thread.
  void SetPulseRate(bigtime_t rate);
  bigtime_t PulseRate() const;

  // `action` runs on the GUI thread the moment the close box is used, before
  // the window's own thread (perhaps busy) hears of it. It must be quick and
  // safe from any thread. An addition of ours: a notifier blocked on the network
  // needs it to close at once.
  void SetCloseAction(void (*action)());

  const char* Title() const { return Name(); }
  window_type Type() const { return type_; }
  uint32 Flags() const { return flags_; }
  uint32 Workspaces() const { return workspaces_; }

  // B_MOUSE_DOWN goes to the view's MouseDown; the rest as for any looper.
  void DispatchMessage(BMessage* message, BHandler* handler) override;

 protected:
  BHandler* handler_for(uint64 token) override;
  void pulse() override;

 private:
  friend const std::shared_ptr<gui_detail::Peer>& peer_of(const BWindow& window);

  window_type type_;
  uint32 flags_;
  uint32 workspaces_;
  BView* top_view_;  // covers the window; its widget is the window's
};

// The kit's way in to a window's top-level widget (synthetic input, tests).
const std::shared_ptr<gui_detail::Peer>& peer_of(const BWindow& window);
