// The application: its message loop is the Qt event loop on the main thread.
#pragma once

#include <memory>
#include <string>

#include "gui/looper.h"

class BWindow;

// One at a time, made on the thread that will run it: that thread becomes the
// Qt thread. Its messages are handled there, one at a time, and its hooks
// (ReadyToRun, AboutRequested, QuitRequested, MessageReceived) run there.
class BApplication : public BLooper {
 public:
  // Makes the QApplication on the platform find_display (display.h) chose.
  // From then on SIGTERM, SIGHUP and SIGINT close every shown window as its
  // close box does (none shown: Quit), and a display lost while Run runs
  // ends the process with status 1, without static destruction.
  explicit BApplication(const char* signature);
  // Closes every window first.
  ~BApplication() override;

  // --- The loop (Qt thread) -------------------------------------------------------

  // Runs the loop until the application quits: ReadyToRun first, then the
  // messages. Before returning it closes every window (see Quit). Again and
  // again, if need be.
  thread_id Run() override;
  // Ends Run. Every window is asked to end after the message at hand, with no
  // hooks; calls of theirs that wait for the Qt thread are refused from then
  // on, so none of them can block the ending; the Qt thread keeps serving
  // queued calls until every window thread has finished, then the windows and
  // alerts are gone. Outside Run this happens at once. Any thread.
  void Quit() override;

  // --- Hooks (Qt thread) ------------------------------------------------------------

  // Once, when Run's loop has started.
  virtual void ReadyToRun();
  // On B_ABOUT_REQUESTED, which F1 posts in any window of the application.
  virtual void AboutRequested();
  // B_ABOUT_REQUESTED to AboutRequested, the rest as for any looper.
  void DispatchMessage(BMessage* message, BHandler* handler) override;

  // --- Windows (any thread) ----------------------------------------------------------

  // The windows in the order they were made; null past the end.
  BWindow* WindowAt(int32 index) const;
  int32 CountWindows() const;

  const char* Signature() const { return signature_.c_str(); }

 protected:
  // Posted messages become queued calls on the Qt thread.
  status_t deliver(std::unique_ptr<BMessage> message, uint64 target) override;

 private:
  struct QtSide;
  void close_all_windows();

  std::string signature_;
  std::unique_ptr<QtSide> qt_;
  bool running_ = false;  // Qt thread only, as is closing_
  bool closing_ = false;
  std::atomic<uint64> generation_{0};  // messages posted before the last closing are void
};

// The application object, while there is one.
extern BApplication* be_app;

// False where a program cannot bring back its own minimized window (native
// Wayland has no protocol for it): such a program had better not minimize
// it. Any thread, once the application is made.
bool minimized_windows_come_back();
