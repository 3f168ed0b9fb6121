// The settings store: what load() makes of a file, what save() writes, and
// that neither ever loses the user's file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "temp_config.h"
#include "wykesub.h"

namespace {

using wyke_test::TempConfigHome;
using Headers = std::vector<std::string>;

const std::string default_file =
    "# Wyke config file.\n"
    "fontsize = 12\n"
    "checktime = 300\n"
    "closetime = 15\n"
    "header = From:\n"
    "header = Subject:\n"
    "# End of config file.\n";

// The state of the settings at process start, which load() expects.
void reset_settings() {
  fontsize = 0;
  checkmail_timer = 0;
  closewindow_timer = 0;
  show_header.clear();
  notify_new_mail = true;
  notify_in_file = false;
  f_config = true;
}

struct Settings {
  int font, check, close;
  Headers headers;
};

Settings current() { return {fontsize, checkmail_timer, closewindow_timer, show_header}; }

void expect_settings(const Settings& got, const Settings& want) {
  EXPECT_EQ(got.font, want.font);
  EXPECT_EQ(got.check, want.check);
  EXPECT_EQ(got.close, want.close);
  EXPECT_EQ(got.headers, want.headers);
}

class SettingsStore : public testing::Test {
 protected:
  void SetUp() override { reset_settings(); }
  void TearDown() override { reset_settings(); }
  TempConfigHome home;
};

struct LoadCase {
  const char* name;
  std::string file;
  Settings want;
};

const Headers defaults{"From:", "Subject:"};

const std::vector<LoadCase> load_cases = {
    {"default_file", default_file, {12, 300, 15, defaults}},
    {"empty_file", "", {12, 300, 15, defaults}},
    {"only_fontsize_zero", "fontsize = 0\n", {12, 300, 15, defaults}},
    {"negative_kept", "checktime = -5\n", {12, -5, 15, defaults}},
    {"no_blanks", "checktime=60\n", {12, 60, 15, defaults}},
    {"extra_blanks", "   checktime    =    60\n", {12, 60, 15, defaults}},
    {"letters_after_number", "checktime = 60s\n", {12, 60, 15, defaults}},
    {"letter_first_keeps_value", "checktime = x60\n", {12, 300, 15, defaults}},
    {"letter_first_then_number", "checktime = x60\nchecktime = 70\n", {12, 70, 15, defaults}},
    {"other_capitals_ignored", "CheckTime = 60\nFONTSIZE = 20\n", {12, 300, 15, defaults}},
    {"comment_with_blank", "# checktime = 60\n", {12, 300, 15, defaults}},
    {"comment_without_blank", "#checktime = 60\n", {12, 300, 15, defaults}},
    {"no_equals_ignored", "checktime 60\n", {12, 300, 15, defaults}},
    {"last_value_wins", "fontsize = 10\nfontsize = 14\n", {14, 300, 15, defaults}},
    {"repeated_header", "header = From:\nheader = From:\n", {12, 300, 15, {"From:", "From:"}}},
    {"empty_header_value", "header =\nheader = To:\n", {12, 300, 15, {"To:"}}},
    {"only_empty_header", "header =   \n", {12, 300, 15, defaults}},
    {"header_with_equals", "header = X=Y:\n", {12, 300, 15, {"X=Y:"}}},
    {"header_first_word_only", "header = Reply-To: junk\n", {12, 300, 15, {"Reply-To:"}}},
    {"key_first_word_counts", "fontsize please = 9\n", {9, 300, 15, defaults}},
    {"crlf_line_ends", "fontsize = 9\r\nheader = To:\r\n", {9, 300, 15, {"To:"}}},
    {"last_line_without_lf", "closetime = 7", {12, 300, 7, defaults}},
    {"leading_zeros_decimal", "checktime = 0010\n", {12, 10, 15, defaults}},
    {"plus_sign", "closetime = +8\n", {12, 300, 8, defaults}},
    {"beyond_int_keeps_value", "checktime = 99999999999\n", {12, 300, 15, defaults}},
    {"int_min_fits", "closetime = -2147483648\n", {12, 300, INT32_MIN, defaults}},
    {"int_max_fits", "closetime = 2147483647\n", {12, 300, INT32_MAX, defaults}},
    {"just_past_int_max", "fontsize = 9\nfontsize = 2147483648\n", {9, 300, 15, defaults}},
    {"sign_alone", "fontsize = -\n", {12, 300, 15, defaults}},
    {"unknown_key", "colour = red\n", {12, 300, 15, defaults}},
    {"empty_key_text", "= 5\n", {12, 300, 15, defaults}},
    {"line_of_254_read", "header = " + std::string(245, 'a') + "\nfontsize = 9\n",
     {9, 300, 15, {std::string(245, 'a')}}},
    {"line_of_255_ends_reading", "fontsize = 9\nheader = " + std::string(246, 'a') + "\nchecktime = 60\n",
     {9, 300, 15, defaults}},
    {"header_too_long_to_save_back", "header=" + std::string(246, 'a') + "\nheader = To:\n",
     {12, 300, 15, {"To:"}}},
    {"long_line_in_middle", "checktime = 60\n" + std::string(300, '#') + "\nfontsize = 9\n",
     {12, 60, 15, defaults}},
    {"nul_byte_is_data", std::string("fontsize = 9\0\nchecktime = 60\n", 29), {9, 60, 15, defaults}},
};

class LoadTable : public SettingsStore, public testing::WithParamInterface<LoadCase> {};

TEST_P(LoadTable, GivesSettingsAndLeavesFileAlone) {
  const LoadCase& c = GetParam();
  home.write("Wyke", c.file);
  load();
  expect_settings(current(), c.want);
  EXPECT_EQ(home.read("Wyke"), c.file) << "a file that opens is never rewritten";
}

INSTANTIATE_TEST_SUITE_P(Files, LoadTable, testing::ValuesIn(load_cases),
                         [](const auto& info) { return std::string(info.param.name); });

// What load() makes of a file survives save() and the next load().
TEST_P(LoadTable, SaveThenLoadGivesTheSameSettings) {
  home.write("Wyke", GetParam().file);
  load();
  const Settings loaded = current();
  ASSERT_TRUE(save());
  reset_settings();
  load();
  expect_settings(current(), loaded);
}

TEST_F(SettingsStore, FirstStartWritesTheDefaultFile) {
  load();
  EXPECT_EQ(current().font, 12);
  EXPECT_EQ(current().check, 300);
  EXPECT_EQ(current().close, 15);
  EXPECT_EQ(show_header, defaults);
  EXPECT_EQ(home.read("Wyke"), default_file);
  struct stat st;
  ASSERT_EQ(stat(home.path("Wyke").c_str(), &st), 0);
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0664 & ~mask);
}

TEST_F(SettingsStore, MissingSettingsFolderIsCreated) {
  const std::string nested = home.path("a/b");
  setenv("XDG_CONFIG_HOME", nested.c_str(), 1);
  load();
  EXPECT_EQ(home.read("a/b/Wyke"), default_file);
  struct stat st;
  ASSERT_EQ(stat(nested.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(SettingsStore, NoSettingsFolderUsesDefaultsAndSaveFails) {
  home.write("file", "x");
  const std::string not_a_folder = home.path("file");
  setenv("XDG_CONFIG_HOME", not_a_folder.c_str(), 1);
  load();
  EXPECT_EQ(current().check, 300);
  EXPECT_EQ(show_header, defaults);
  EXPECT_FALSE(save());
  EXPECT_EQ(home.read("file"), "x");
}

TEST_F(SettingsStore, SaveWritesExactBytes) {
  struct SaveCase {
    Settings s;
    std::string want;
  };
  const std::vector<SaveCase> cases = {
      {{12, 300, 15, defaults}, default_file},
      {{-3, 0, 2147483647, {}},
       "# Wyke config file.\nfontsize = -3\nchecktime = 0\nclosetime = 2147483647\n# End of config file.\n"},
      {{9, 60, 5, {"To:", "To:", "X-Spam:"}},
       "# Wyke config file.\nfontsize = 9\nchecktime = 60\nclosetime = 5\n"
       "header = To:\nheader = To:\nheader = X-Spam:\n# End of config file.\n"},
  };
  for (const SaveCase& c : cases) {
    fontsize = c.s.font;
    checkmail_timer = c.s.check;
    closewindow_timer = c.s.close;
    show_header = c.s.headers;
    ASSERT_TRUE(save());
    EXPECT_EQ(home.read("Wyke"), c.want);
  }
}

// "notify" is read when the file has it and written back only then, so a
// file that never had it stays the default file.
TEST_F(SettingsStore, NotifyIsWrittenBackOnlyWhereItWas) {
  struct NotifyCase {
    std::string file;
    bool on;
    std::string saved_line;
  };
  const std::vector<NotifyCase> cases = {
      {default_file, true, ""},
      {"notify = no\n", false, "notify = no\n"},
      {"notify=NO\r\n", false, "notify = no\n"},
      {"notify = yes\n", true, "notify = yes\n"},
      {"notify = nope\n", true, "notify = yes\n"},
      {"notify = no\nnotify = yes\n", true, "notify = yes\n"},
  };
  for (const NotifyCase& c : cases) {
    SCOPED_TRACE(c.file);
    reset_settings();
    home.write("Wyke", c.file);
    load();
    EXPECT_EQ(snapshot_settings().notify_new_mail, c.on);
    ASSERT_TRUE(save());
    EXPECT_EQ(home.read("Wyke"), "# Wyke config file.\nfontsize = 12\nchecktime = 300\nclosetime = 15\n" +
                                     c.saved_line + "header = From:\nheader = Subject:\n# End of config file.\n");
  }
}

TEST_F(SettingsStore, SaveAfterHandEditDropsUnknownLines) {
  home.write("Wyke", "# my notes\ncolour = red\n\nfontsize = 20\n");
  load();
  ASSERT_TRUE(save());
  EXPECT_EQ(home.read("Wyke"),
            "# Wyke config file.\nfontsize = 20\nchecktime = 300\nclosetime = 15\n"
            "header = From:\nheader = Subject:\n# End of config file.\n");
}

TEST_F(SettingsStore, SaveKeepsPermissionBitsAndLeavesNoTemporary) {
  home.write("Wyke", default_file, 0600);
  fontsize = 20;
  ASSERT_TRUE(save());
  struct stat st;
  ASSERT_EQ(stat(home.path("Wyke").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(home.dir())) ++entries;
  EXPECT_EQ(entries, 1u);
}

TEST_F(SettingsStore, SaveWritesThroughSymbolicLink) {
  home.write("dotfiles/Wyke", "old\n", 0640);
  ASSERT_EQ(symlink("dotfiles/Wyke", home.path("Wyke").c_str()), 0);
  fontsize = 9;
  checkmail_timer = 60;
  closewindow_timer = 5;
  show_header = {"From:"};
  ASSERT_TRUE(save());
  struct stat st;
  ASSERT_EQ(lstat(home.path("Wyke").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link stays a link";
  EXPECT_EQ(home.read("dotfiles/Wyke"),
            "# Wyke config file.\nfontsize = 9\nchecktime = 60\nclosetime = 5\nheader = From:\n"
            "# End of config file.\n");
  ASSERT_EQ(stat(home.path("dotfiles/Wyke").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// Runs save() with the file size limit lowered, as on a full disk.
bool save_with_file_size_limit(rlim_t bytes) {
  rlimit old;
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = bytes;
  setrlimit(RLIMIT_FSIZE, &small);
  const bool ok = save();
  setrlimit(RLIMIT_FSIZE, &old);
  return ok;
}

TEST_F(SettingsStore, FullDiskFailsAndKeepsOldFile) {
  const std::string old = "fontsize = 20\n";
  home.write("Wyke", old);
  load();
  show_header.assign(20, "X-Long-Header-Name:");
  EXPECT_FALSE(save_with_file_size_limit(64));
  EXPECT_EQ(home.read("Wyke"), old);
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(home.dir())) ++entries;
  EXPECT_EQ(entries, 1u) << "the temporary file is removed";
}

TEST_F(SettingsStore, ReadOnlyFolderFailsAndKeepsOldFile) {
  home.write("Wyke", default_file);
  load();
  fontsize = 30;
  ASSERT_EQ(chmod(home.dir().c_str(), 0500), 0);
  if (access(home.dir().c_str(), W_OK) == 0) GTEST_SKIP() << "this process may write a read-only folder (root)";
  EXPECT_FALSE(save());
  chmod(home.dir().c_str(), 0700);
  EXPECT_EQ(home.read("Wyke"), default_file);
}

TEST_F(SettingsStore, UnreadableFileSurvivesLoad) {
  const std::string mine = "fontsize = 20\n";
  home.write("Wyke", mine, 0200);
  if (access(home.path("Wyke").c_str(), R_OK) == 0) GTEST_SKIP() << "this process may read any file (root)";
  testing::internal::CaptureStderr();
  load();
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(current().font, 12);
  EXPECT_EQ(show_header, defaults);
  EXPECT_NE(said.find("Permission denied"), std::string::npos) << said;
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << "one line";
  chmod(home.path("Wyke").c_str(), 0600);
  EXPECT_EQ(home.read("Wyke"), mine);
}

TEST_F(SettingsStore, FolderInPlaceOfFileSurvivesLoad) {
  std::filesystem::create_directory(home.path("Wyke"));
  home.write("Wyke/keep", "x");
  testing::internal::CaptureStderr();
  load();
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(current().check, 300);
  EXPECT_NE(said.find("not a regular file"), std::string::npos) << said;
  EXPECT_EQ(home.read("Wyke/keep"), "x");
  EXPECT_FALSE(save()) << "a folder is never replaced";
  EXPECT_EQ(home.read("Wyke/keep"), "x");
}

// What a save killed half-way leaves beside the file, and what else may lie
// there: load() at start removes only the first, and only once no save that
// still runs could own it.
struct LitterCase {
  const char* name;
  std::string leaf;
  enum { file, folder, link } kind;
  int age_seconds;
  bool removed;
};

constexpr int one_day = 24 * 60 * 60;

const std::vector<LitterCase> litter_cases = {
    {"killed_save", ".Wyke.3141592653.tmp", LitterCase::file, one_day, true},
    {"save_that_may_still_run", ".Wyke.2718281828.tmp", LitterCase::file, 10, false},
    {"no_leading_dot", "Wyke.123.tmp", LitterCase::file, one_day, false},
    {"no_number", ".Wyke..tmp", LitterCase::file, one_day, false},
    {"letters_in_number", ".Wyke.12a.tmp", LitterCase::file, one_day, false},
    {"more_after_tmp", ".Wyke.123.tmp.orig", LitterCase::file, one_day, false},
    {"another_program", ".Other.123.tmp", LitterCase::file, one_day, false},
    {"folder_of_that_name", ".Wyke.77.tmp", LitterCase::folder, one_day, false},
    {"link_of_that_name", ".Wyke.78.tmp", LitterCase::link, one_day, false},
};

void make_old(const std::string& path, int age_seconds) {
  const timespec when{time(nullptr) - age_seconds, 0};
  const timespec times[2] = {when, when};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

TEST_F(SettingsStore, StartRemovesOnlyWhatAKilledSaveLeft) {
  home.write("Wyke", default_file);
  home.write("elsewhere", "kept");
  for (const LitterCase& c : litter_cases) {
    const std::string path = home.path(c.leaf);
    if (c.kind == LitterCase::file) home.write(c.leaf, "fontsize = 1");
    if (c.kind == LitterCase::folder) std::filesystem::create_directory(path);
    if (c.kind == LitterCase::link) std::filesystem::create_symlink(home.path("elsewhere"), path);
    make_old(path, c.age_seconds);
  }
  load();
  for (const LitterCase& c : litter_cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(!std::filesystem::exists(std::filesystem::symlink_status(home.path(c.leaf))), c.removed);
  }
  EXPECT_EQ(home.read("Wyke"), default_file);
  EXPECT_EQ(home.read("elsewhere"), "kept");
}

TEST(ReadInt, StreamExtractionRules) {
  struct Case {
    const char* text;
    bool ok;
    int value;
  };
  const Case cases[] = {
      {"42", true, 42},       {"  \t-7x", true, -7}, {"+0", true, 0},  {"", false, 99},
      {"x1", false, 99},      {"- 1", false, 99},    {"007", true, 7}, {"-2147483649", false, 99},
      {"2147483647", true, 2147483647},
  };
  for (const Case& c : cases) {
    int value = 99;
    EXPECT_EQ(read_int(c.text, value), c.ok) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
}

}  // namespace
