// Window threads: messages one at a time in posting order, CurrentMessage,
// quitting, and the lock the Qt thread never waits for.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "synthetic.h"
#include "gui_app.h"

namespace {

using namespace wyke_test;

constexpr uint32 numbered = message_code("num!");
constexpr uint32 hold = message_code("hold");

// What a window saw; outlives the window, which deletes itself.
struct Record {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<int32> numbers;
  bool current_was_message = true;
  bool holding = false;
  bool released = false;
  int quit_asks = 0;
  bool allow_quit = true;
  std::atomic<bool> gone{false};

  void release() {
    std::lock_guard lock(mutex);
    released = true;
    changed.notify_all();
  }
  std::size_t count() {
    std::lock_guard lock(mutex);
    return numbers.size();
  }
};

class RecordingWindow : public BWindow {
 public:
  explicit RecordingWindow(std::shared_ptr<Record> record)
      : BWindow(BRect(20, 20, 119, 69), "recording", B_TITLED_WINDOW, 0), record_(std::move(record)) {}
  ~RecordingWindow() override { record_->gone = true; }

  void MessageReceived(BMessage* message) override {
    std::unique_lock lock(record_->mutex);
    record_->current_was_message = record_->current_was_message && CurrentMessage() == message;
    if (message->what == hold) {
      record_->holding = true;
      record_->changed.notify_all();
      record_->changed.wait_for(lock, 10s, [&] { return record_->released; });
      return;
    }
    int32 n = -1;
    message->FindInt32("n", &n);
    record_->numbers.push_back(n);
  }

  bool QuitRequested() override {
    std::lock_guard lock(record_->mutex);
    ++record_->quit_asks;
    return record_->allow_quit;
  }

 private:
  std::shared_ptr<Record> record_;
};

class Looper : public GuiTest {
 protected:
  RecordingWindow* open() {
    auto* window = new RecordingWindow(record);
    window->Show();
    return window;
  }
  std::shared_ptr<Record> record = std::make_shared<Record>();
};

void post_numbers(BWindow* window, int32 first, int count) {
  for (int i = 0; i < count; ++i) {
    BMessage m(numbered);
    m.AddInt32("n", first + i);
    window->PostMessage(&m);
  }
}

TEST_F(Looper, EachPostersMessagesArriveInOrderOneAtATime) {
  RecordingWindow* window = open();
  std::thread a(post_numbers, window, 0, 300);
  std::thread b(post_numbers, window, 1000, 300);
  a.join();
  b.join();
  ASSERT_TRUE(pump_until([&] { return record->count() == 600; }));
  std::map<int32, int32> last{{0, -1}, {1, -1}};
  std::lock_guard lock(record->mutex);
  for (int32 n : record->numbers) {
    EXPECT_GT(n % 1000, last[n / 1000]) << "out of order: " << n;
    last[n / 1000] = n % 1000;
  }
  EXPECT_TRUE(record->current_was_message);
}

TEST_F(Looper, CurrentMessageIsNullOutsideAHandler) {
  RecordingWindow* window = open();
  BMessage* seen = reinterpret_cast<BMessage*>(1);
  ASSERT_TRUE(on_window_thread(*window, [&] { seen = window->CurrentMessage(); }));
  EXPECT_EQ(seen, nullptr);
}

TEST_F(Looper, QuitRequestedDecidesForCloseBoxAndMessage) {
  struct Case {
    const char* name;
    bool close_box;
    bool allow;
  };
  const Case cases[] = {
      {"close box, allowed", true, true},
      {"close box, refused", true, false},
      {"posted, allowed", false, true},
      {"posted, refused", false, false},
  };
  for (const Case& c : cases) {
    record = std::make_shared<Record>();
    record->allow_quit = c.allow;
    RecordingWindow* window = open();
    if (c.close_box)
      gui_synthetic::close_box(*window);
    else
      window->PostMessage(B_QUIT_REQUESTED);
    ASSERT_TRUE(pump_until([&] {
      std::lock_guard lock(record->mutex);
      return record->quit_asks == 1;
    })) << c.name;
    if (c.allow) {
      EXPECT_TRUE(pump_until([&] { return record->gone.load(); })) << c.name;
    } else {
      // Still answering: a message posted now is handled.
      post_numbers(window, 7, 1);
      EXPECT_TRUE(pump_until([&] { return record->count() == 1; })) << c.name;
      EXPECT_FALSE(record->gone) << c.name;
    }
    close_all_windows();
  }
}

TEST_F(Looper, QuitFromAnotherThreadComesAfterTheMessageAtHand) {
  RecordingWindow* window = open();
  window->PostMessage(hold);
  {
    std::unique_lock lock(record->mutex);
    ASSERT_TRUE(record->changed.wait_for(lock, 5s, [&] { return record->holding; }));
  }
  post_numbers(window, 1, 3);  // queued behind the held message
  window->Quit();              // returns at once, though the window is busy
  EXPECT_FALSE(record->gone);
  record->release();
  ASSERT_TRUE(pump_until([&] { return record->gone.load(); }));
  EXPECT_EQ(record->count(), 0u) << "the quit goes ahead of messages still queued";
}

TEST_F(Looper, QuitBeforeShowDeletesAtOnce) {
  auto* window = new RecordingWindow(record);
  window->Quit();
  EXPECT_TRUE(record->gone);
}

TEST_F(Looper, QtThreadLocksOnlyAWindowWithoutThread) {
  auto* window = new RecordingWindow(record);
  ASSERT_TRUE(window->Lock()) << "no thread yet: nobody else can hold it";
  window->Unlock();
  window->Show();
  EXPECT_FALSE(window->Lock()) << "the Qt thread never waits for a window thread";
  bool locked_there = false;
  ASSERT_TRUE(on_window_thread(*window, [&] {
    locked_there = window->Lock();
    if (locked_there) window->Unlock();
  }));
  EXPECT_TRUE(locked_there) << "recursive on the window's own thread";
}

}  // namespace
