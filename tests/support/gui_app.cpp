#include "gui_app.h"

#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "synthetic.h"

namespace wyke_test {

namespace {

BApplication* application = nullptr;
std::string runtime_dir;  // made for this run, when none was given

// Qt wants a private runtime folder and complains without one.
void give_runtime_dir() {
  if (std::getenv("XDG_RUNTIME_DIR") != nullptr) return;
  std::string templ = (std::filesystem::temp_directory_path() / "wyke-runtime-XXXXXX").string();
  if (mkdtemp(templ.data()) == nullptr) return;
  chmod(templ.c_str(), 0700);
  runtime_dir = templ;
  setenv("XDG_RUNTIME_DIR", runtime_dir.c_str(), 1);
}

// Deletes the application after the last test, while Qt is still whole.
class GuiEnvironment : public testing::Environment {
 public:
  void TearDown() override {
    delete application;
    application = nullptr;
    if (runtime_dir.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(runtime_dir, ignored);
    unsetenv("XDG_RUNTIME_DIR");
  }
};

[[maybe_unused]] testing::Environment* const environment = testing::AddGlobalTestEnvironment(new GuiEnvironment);

}  // namespace

HookApplication::HookApplication() : BApplication("application/x-vnd.wyke-test") {}

void HookApplication::ReadyToRun() {
  std::function<void()> ready;
  ready.swap(on_ready);
  if (ready) ready();
}

void HookApplication::AboutRequested() { ++about_requests; }

BApplication& gui_app(const std::function<BApplication*()>& make) {
  if (application == nullptr) {
    give_runtime_dir();
    application = make ? make() : new HookApplication;
  }
  return *application;
}

HookApplication& hook_app() { return dynamic_cast<HookApplication&>(gui_app()); }

bool pump_until(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    gui_synthetic::process_events();
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
}

bool on_window_thread(BWindow& window, std::function<void()> fn, std::chrono::milliseconds timeout) {
  // Shared with the call, which may still run after a time-out.
  auto done = std::make_shared<std::atomic<bool>>(false);
  if (!gui_detail::post_call(window, [fn = std::move(fn), done] {
        fn();
        *done = true;
      }))
    return false;
  const bool finished = pump_until([&] { return done->load(); }, timeout);
  gui_synthetic::process_events();
  return finished;
}

void close_all_windows() {
  if (application != nullptr) application->Quit();
}

}  // namespace wyke_test
