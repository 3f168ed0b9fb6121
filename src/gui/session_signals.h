// The signals a desktop session ends programs with (SIGTERM at logout,
// SIGHUP when a terminal closes, SIGINT from Ctrl-C), turned into a call on
// the Qt thread, so that the program ends its own way instead of being killed
// in the middle of whatever it does.
#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace gui_detail {

// One at a time, made on the Qt thread once QApplication exists; while it
// lives the three signals call `on_signal` on the Qt thread through the
// event loop (a pipe written by the handler). Its end gives them back their
// default action.
class SessionSignals : public QObject {
 public:
  explicit SessionSignals(std::function<void()> on_signal);
  ~SessionSignals() override;

 private:
  void heard();

  std::function<void()> on_signal_;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace gui_detail
