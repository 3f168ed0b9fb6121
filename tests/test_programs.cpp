// The helpers that run programs beside a test (the openssl command for the
// Dovecot harness): exit status, output, and a program that hangs is ended
// at its bound instead of holding the suite.
#include <gtest/gtest.h>

#include <sys/types.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "programs.h"

namespace {

using namespace std::chrono_literals;

struct ProgramCase {
  const char* name;
  const char* script;  // for /bin/sh -c
  bool succeeds;
  const char* output;  // the start of what it printed
};

const ProgramCase program_cases[] = {
    {"exit_0_with_both_streams", "echo out; echo err >&2", true, "out\nerr\n"},
    {"exit_1_fails_keeping_output", "echo why; exit 1", false, "why\n"},
    {"killed_by_a_signal_fails", "kill -9 $$", false, ""},
    {"hanging_program_is_ended_at_the_bound", "echo started; exec sleep 60", false, "started\n"},
};

class RunProgram : public testing::TestWithParam<ProgramCase> {};

TEST_P(RunProgram, ReportsStatusAndOutput) {
  const ProgramCase& c = GetParam();
  std::string output;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(wyke_test::run_program({"/bin/sh", "-c", c.script}, output, 500ms), c.succeeds);
  EXPECT_EQ(output.rfind(c.output, 0), 0u) << output;
  // Far beyond the bound, far below the sleeps.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
}

INSTANTIATE_TEST_SUITE_P(Cases, RunProgram, testing::ValuesIn(program_cases),
                         [](const testing::TestParamInfo<ProgramCase>& info) { return info.param.name; });

// Running, as opposed to gone or a zombie waiting for its parent.
bool running(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const std::size_t state = text.rfind(')');
  return state != std::string::npos && state + 2 < text.size() && text[state + 2] != 'Z';
}

TEST(RunProgramBound, EndsWhatTheProgramStartedToo) {
  std::string output;
  EXPECT_FALSE(wyke_test::run_program({"/bin/sh", "-c", "sleep 60 & echo $!; wait"}, output, 500ms));
  const pid_t child = static_cast<pid_t>(std::stol(output));
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (running(child) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
  EXPECT_FALSE(running(child)) << "the program's own child " << child << " outlived it";
}

TEST(FindProgram, FindsTheShellAndNotAnInventedName) {
  EXPECT_FALSE(wyke_test::find_program("sh").empty());
  EXPECT_EQ(wyke_test::find_program("no-such-program-wyke"), "");
}

}  // namespace
