// Files the user may point anywhere: a named pipe, a device or a folder in
// place of the accounts file or the settings file is refused at once with
// one clear line, and left as it is.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "platform/mail_settings.h"
#include "temp_config.h"
#include "wykesub.h"

namespace {

using namespace std::chrono_literals;
using wyke_test::TempConfigHome;

// A read that waited on the file would take as long as nobody writes to it.
constexpr auto at_once = 1s;

struct Impostor {
  const char* name;
  std::function<int(const std::string& path)> make;  // 0 when made
  mode_t type;  // what it still is afterwards
  const char* said;
};

const std::vector<Impostor> impostors = {
    {"named_pipe", [](const std::string& p) { return mkfifo(p.c_str(), 0600); }, S_IFIFO, "it is a named pipe"},
    {"endless_device", [](const std::string& p) { return symlink("/dev/zero", p.c_str()); }, S_IFLNK,
     "it is a device"},
    {"folder", [](const std::string& p) { return mkdir(p.c_str(), 0700); }, S_IFDIR, "it is a folder"},
};

// Each file read as the program reads it; true when the reading fell back
// as for a file that is not there to read.
struct Reader {
  const char* name;
  const char* leaf;
  std::function<bool()> read;
};

const std::vector<Reader> readers = {
    {"accounts_file", "Mail/accounts", [] { return count_pop_accounts() == 0; }},
    {"settings_file", "Wyke",
     [] {
       {
         std::lock_guard lock(settings_lock);
         fontsize = checkmail_timer = closewindow_timer = 0;
         show_header.clear();
       }
       load();
       return checkmail_timer == default_checktime && show_header.size() == 2;
     }},
};

TEST(UnreadableFiles, AreRefusedAtOnceAndLeftAlone) {
  for (const Reader& r : readers) {
    for (const Impostor& kind : impostors) {
      SCOPED_TRACE(std::string(r.name) + " " + kind.name);
      TempConfigHome home;
      const std::string path = home.path(r.leaf);
      std::filesystem::create_directories(std::filesystem::path(path).parent_path());
      ASSERT_EQ(kind.make(path), 0) << std::strerror(errno);

      testing::internal::CaptureStderr();
      auto reading = std::async(std::launch::async, r.read);
      const bool in_time = reading.wait_for(at_once) == std::future_status::ready;
      // A reader stuck in open() on the pipe is let go by a writer.
      if (!in_time) close(open(path.c_str(), O_WRONLY | O_NONBLOCK));
      const bool fell_back = reading.get();
      const std::string said = testing::internal::GetCapturedStderr();

      EXPECT_TRUE(in_time) << "waited on the file";
      EXPECT_TRUE(fell_back);
      EXPECT_NE(said.find(path), std::string::npos) << said;
      EXPECT_NE(said.find(kind.said), std::string::npos) << said;
      struct stat st;
      ASSERT_EQ(lstat(path.c_str(), &st), 0) << "left where it was";
      EXPECT_EQ(st.st_mode & S_IFMT, kind.type);
    }
  }
}

}  // namespace
