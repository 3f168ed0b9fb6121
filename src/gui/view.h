// Views: rectangles of a window that draw and take the mouse, in a tree.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "gui/geometry.h"
#include "gui/looper.h"

class BWindow;
class QWidget;

namespace gui_detail {
struct Peer;
}  // namespace gui_detail

// --- Resizing modes: which parent edge each edge of a view keeps its distance to

inline constexpr uint32 B_FOLLOW_NONE = 0;
inline constexpr uint32 B_FOLLOW_LEFT = 0x0202;
inline constexpr uint32 B_FOLLOW_RIGHT = 0x0404;
inline constexpr uint32 B_FOLLOW_LEFT_RIGHT = 0x0204;
inline constexpr uint32 B_FOLLOW_H_CENTER = 0x0505;
inline constexpr uint32 B_FOLLOW_TOP = 0x1010;
inline constexpr uint32 B_FOLLOW_BOTTOM = 0x3030;
inline constexpr uint32 B_FOLLOW_TOP_BOTTOM = 0x1030;
inline constexpr uint32 B_FOLLOW_V_CENTER = 0x5050;
inline constexpr uint32 B_FOLLOW_ALL = 0x1234;  // all four sides

// --- View flags -------------------------------------------------------------------

inline constexpr uint32 B_WILL_DRAW = 0x20000000;
inline constexpr uint32 B_PULSE_NEEDED = 0x10000000;  // Pulse at the window's rate

// Every call on a view belongs to its window's thread, or to the thread that
// made it while the window's thread has not started (the application's
// ReadyToRun, for instance). Calls that answer wait for the Qt thread (at
// once on the Qt thread itself); calls that change something do not wait.
class BView : public BHandler {
 public:
  // `frame` in the parent's coordinates, inclusive.
  BView(BRect frame, const char* name, uint32 resizing_mode, uint32 flags);
  // Deletes the children too.
  ~BView() override;

  // --- Hooks (the window's thread) ---------------------------------------------------

  // At every pulse of the window, for a view made with B_PULSE_NEEDED.
  virtual void Pulse();
  // A mouse button went down over the view; the window's CurrentMessage is the
  // B_MOUSE_DOWN message ("buttons", "where"). Nothing happens here.
  virtual void MouseDown(BPoint where);

  // --- The tree ------------------------------------------------------------------------

  // Adds `view` as the last child, or in front of `before`. The view is owned
  // by this one from then on.
  void AddChild(BView* view, BView* before = nullptr);
  BView* ChildAt(int32 index) const;
  int32 CountChildren() const { return static_cast<int32>(children_.size()); }
  // This view or the first one below it, depth first, with that name.
  BView* FindView(const char* name) const;
  BView* Parent() const { return parent_; }
  BWindow* Window() const { return window_; }
  uint32 Flags() const { return flags_; }
  uint32 ResizingMode() const { return resizing_mode_; }

  // --- Geometry -------------------------------------------------------------------------

  // Where the view is now (it follows its parent), in the parent's coordinates.
  BRect Frame() const;
  // The view's own rectangle: origin 0, 0, or where its content is scrolled to.
  BRect Bounds() const;

  // --- Colour ---------------------------------------------------------------------------

  // The colour the view's background is filled with.
  void SetViewColor(rgb_color color);
  void SetViewColor(uint8 red, uint8 green, uint8 blue, uint8 alpha = 255) {
    SetViewColor(rgb_color{red, green, blue, alpha});
  }
  rgb_color ViewColor() const { return view_color_; }

  // --- Tooltip ----------------------------------------------------------------------------

  // Shown when the pointer rests on the view; empty: none of the view's own.
  void SetToolTip(const char* text);
  std::string ToolTip() const;

 protected:
  // For the kit's own views: `make_widget` builds the Qt widget that stands
  // for the view (on the Qt thread).
  using WidgetMaker = QWidget* (*)();
  BView(BRect frame, const char* name, uint32 resizing_mode, uint32 flags, WidgetMaker make_widget);

  const std::shared_ptr<gui_detail::Peer>& peer() const { return peer_; }
  // The frame as given, before any following of the parent.
  BRect initial_frame() const { return frame_; }

 private:
  friend class BWindow;
  friend class BScrollView;
  friend const std::shared_ptr<gui_detail::Peer>& peer_of(const BView& view);

  void attach(BWindow* window);
  BView* find_token(uint64 token);
  void collect_pulse_views(std::vector<uint64>& tokens) const;

  std::shared_ptr<gui_detail::Peer> peer_;
  BRect frame_;
  uint32 resizing_mode_;
  uint32 flags_;
  rgb_color view_color_{216, 216, 216, 255};
  BView* parent_ = nullptr;
  BWindow* window_ = nullptr;
  std::vector<BView*> children_;
};

// The kit's way in to a view's widget (synthetic input, tests).
const std::shared_ptr<gui_detail::Peer>& peer_of(const BView& view);
