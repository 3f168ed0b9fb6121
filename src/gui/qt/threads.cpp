#include "gui/qt/threads.h"

#include <condition_variable>
#include <list>
#include <mutex>
#include <thread>

#include "gui/qt/qt_calls.h"

namespace gui_detail {

namespace {

struct LooperThread {
  std::thread thread;
  bool finished = false;
};

std::mutex mutex;
std::condition_variable finished_one;
std::list<LooperThread> threads;

}  // namespace

void start_looper_thread(std::function<void()> body) {
  std::lock_guard lock(mutex);
  const auto entry = threads.emplace(threads.end());
  entry->thread = std::thread([body = std::move(body), entry] {
    body();
    {
      std::lock_guard done(mutex);
      entry->finished = true;
      finished_one.notify_all();
    }
    queue_for_qt(join_finished_threads);
  });
}

void join_finished_threads() {
  std::list<LooperThread> done;
  {
    std::lock_guard lock(mutex);
    for (auto it = threads.begin(); it != threads.end();) {
      const auto next = std::next(it);
      if (it->finished) done.splice(done.end(), threads, it);
      it = next;
    }
  }
  for (LooperThread& t : done) t.thread.join();
}

int running_looper_threads() {
  std::lock_guard lock(mutex);
  int running = 0;
  for (const LooperThread& t : threads) running += t.finished ? 0 : 1;
  return running;
}

void wait_for_a_thread(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex);
  finished_one.wait_for(lock, timeout);
}

}  // namespace gui_detail
