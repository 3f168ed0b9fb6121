#include "gui/application.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QWidget>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "gui/display.h"
#include "gui/qt/port.h"
#include "gui/qt/qt_calls.h"
#include "gui/qt/threads.h"
#include "gui/qt/widgets.h"
#include "gui/session_signals.h"
#include "gui/window.h"
#include "gui/qt/window_list.h"

BApplication* be_app = nullptr;

namespace {

struct WindowEntry {
  BWindow* window;
  std::shared_ptr<gui_detail::Port> port;
  bool started = false;
  bool asked_to_quit = false;
};

std::mutex windows_mutex;
std::vector<WindowEntry> windows;

void install_exit_guards();

// Qt keeps argc and argv for the application's life, and main has none to give.
struct FixedArguments {
  int argc = 1;
  char name[5] = "wyke";
  char platform_option[10] = "-platform";
  std::string platform = find_display().platform;
  char* argv[4] = {name, nullptr, nullptr, nullptr};

  FixedArguments() {
    install_exit_guards();
    if (platform.empty()) return;
    argv[1] = platform_option;
    argv[2] = platform.data();
    argc = 3;
  }
};

// --- Ending when the display goes ---------------------------------------------------

// While the loop runs. Qt ends the process with exit(1) when the X connection
// breaks, and with a fatal message when a Wayland one does: static
// destruction would then meet window threads still running (and abort on
// them). Ended at once instead: a settings save in progress leaves the old
// file in place (saves rename a finished temporary over it).
std::atomic<bool> loop_running{false};
QtMessageHandler qt_default_handler = nullptr;

// exit()'s own handler, on whichever thread called exit().
void end_without_static_destruction() {
  if (!loop_running) return;
  std::fflush(stdout);
  _exit(1);
}

// Qt's fatal messages are its platform's failures (no display, a lost one):
// the message, then status 1, no abort and no core. Any thread.
void end_on_fatal(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  qt_default_handler(type, context, text);
  if (type != QtFatalMsg) return;
  std::fflush(stdout);
  _exit(1);
}

void install_exit_guards() {
  static std::once_flag once;
  std::call_once(once, [] {
    std::atexit(end_without_static_destruction);
    qt_default_handler = qInstallMessageHandler(end_on_fatal);
  });
}

// A session's signal closes every shown window as its close box would (the
// notifier's cancels its check), and with none shown ends the application.
// Qt thread.
void close_as_the_session_asks() {
  bool asked = false;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (dynamic_cast<gui_detail::WindowWidget*>(widget) == nullptr || !widget->isVisible()) continue;
    widget->close();
    asked = true;
  }
  if (!asked && be_app != nullptr) be_app->Quit();
}

std::atomic<bool> restorable{true};

// F1 anywhere in the application asks for the About box.
class AboutKey : public QObject {
 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    // The widget test first: the kit's own calls to the Qt thread pass here too,
    // and are not looked into before the bridge that runs them has them.
    if (!watched->isWidgetType() || event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_F1) return false;
    if (!key->isAutoRepeat() && be_app != nullptr) be_app->PostMessage(B_ABOUT_REQUESTED);
    return true;
  }
};

}  // namespace

struct BApplication::QtSide {
  FixedArguments arguments;
  QApplication app{arguments.argc, arguments.argv};
  AboutKey about_key;
  gui_detail::SessionSignals session_signals{close_as_the_session_asks};

  QtSide() {
    app.installEventFilter(&about_key);
    restorable = !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
  }
};

bool minimized_windows_come_back() { return restorable; }

BApplication::BApplication(const char* signature)
    : BLooper(signature), signature_(signature ? signature : ""), qt_(std::make_unique<QtSide>()) {
  gui_detail::attach_qt_thread();
  be_app = this;
}

BApplication::~BApplication() {
  close_all_windows();
  gui_detail::detach_qt_thread();
  qt_.reset();
  be_app = nullptr;
}

thread_id BApplication::Run() {
  running_ = true;
  gui_detail::queue_for_qt([this] { ReadyToRun(); });
  loop_running = true;
  QApplication::exec();
  loop_running = false;
  running_ = false;
  close_all_windows();
  return static_cast<thread_id>(gettid());
}

void BApplication::Quit() {
  if (!gui_detail::on_qt_thread()) {
    gui_detail::queue_for_qt([this] { Quit(); });
    return;
  }
  // QApplication::quit would ask every widget to close, and a window that
  // keeps its widget until its thread agrees would veto that.
  if (running_)
    QCoreApplication::exit(0);
  else
    close_all_windows();
}

void BApplication::ReadyToRun() {}

void BApplication::AboutRequested() {}

void BApplication::DispatchMessage(BMessage* message, BHandler* handler) {
  if (message->what == B_ABOUT_REQUESTED && handler == this) {
    AboutRequested();
    return;
  }
  BLooper::DispatchMessage(message, handler);
}

status_t BApplication::deliver(std::unique_ptr<BMessage> message, uint64 target) {
  std::shared_ptr<const BMessage> held(std::move(message));
  gui_detail::queue_for_qt([this, held, target, generation = generation_.load()] {
    if (generation == generation_ && !closing_) handle({std::make_unique<BMessage>(*held), target, {}});
  });
  return B_OK;
}

void BApplication::close_all_windows() {
  // The events handled below may hold another quit request: already on it.
  if (closing_) return;
  closing_ = true;
  gui_detail::set_quitting(true);
  for (QWidget* widget : QApplication::topLevelWidgets()) widget->hide();
  for (;;) {
    {
      std::lock_guard lock(windows_mutex);
      for (WindowEntry& entry : windows) {
        if (!entry.started || entry.asked_to_quit) continue;
        entry.port->push_first({std::make_unique<BMessage>(gui_detail::quit_now), 0, {}});
        entry.asked_to_quit = true;
      }
    }
    gui_detail::join_finished_threads();
    if (gui_detail::running_looper_threads() == 0) break;
    // The threads may still queue calls (their windows' widgets going).
    QCoreApplication::processEvents();
    gui_detail::wait_for_a_thread(std::chrono::milliseconds(5));
  }
  QCoreApplication::sendPostedEvents();
  // Windows never shown: made on this thread, or by threads that have ended.
  std::vector<BWindow*> unstarted;
  {
    std::lock_guard lock(windows_mutex);
    for (const WindowEntry& entry : windows) unstarted.push_back(entry.window);
  }
  for (BWindow* window : unstarted) delete window;
  // Alerts, and whatever else is left.
  std::vector<QPointer<QWidget>> left;
  for (QWidget* widget : QApplication::topLevelWidgets()) left.emplace_back(widget);
  for (const QPointer<QWidget>& widget : left) delete widget.data();
  ++generation_;
  gui_detail::set_quitting(false);
  closing_ = false;
}

BWindow* BApplication::WindowAt(int32 index) const {
  std::lock_guard lock(windows_mutex);
  if (index < 0 || static_cast<std::size_t>(index) >= windows.size()) return nullptr;
  return windows[static_cast<std::size_t>(index)].window;
}

int32 BApplication::CountWindows() const {
  std::lock_guard lock(windows_mutex);
  return static_cast<int32>(windows.size());
}

// --- The window list ----------------------------------------------------------------

void gui_detail::register_window(BWindow* window, std::shared_ptr<Port> port) {
  std::lock_guard lock(windows_mutex);
  windows.push_back({window, std::move(port)});
}

void gui_detail::unregister_window(BWindow* window) {
  std::lock_guard lock(windows_mutex);
  std::erase_if(windows, [window](const WindowEntry& entry) { return entry.window == window; });
}

void gui_detail::window_started(BWindow* window) {
  std::lock_guard lock(windows_mutex);
  for (WindowEntry& entry : windows)
    if (entry.window == window) entry.started = true;
}
