// Common main of every suite: the private network first, while the process
// has one thread, then GoogleTest.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>

#include "netns.h"

namespace {

// The first line of the first skip in `result`; empty when it has none.
std::string skip_reason(const testing::TestResult& result) {
  for (int i = 0; i < result.total_part_count(); ++i) {
    const testing::TestPartResult& part = result.GetTestPartResult(i);
    if (!part.skipped()) continue;
    const std::string message = part.message();
    return message.substr(0, message.find('\n'));
  }
  return {};
}

// Adds each skipped test case with its reason ("Suite.Test<TAB>reason") to a
// file of this process in the folder WYKE_SKIP_DIR names, so that the run's
// summary (tools/run-tests.sh) counts them: a skip is not a pass.
class SkipRecorder : public testing::EmptyTestEventListener {
 public:
  explicit SkipRecorder(std::string file) : file_(std::move(file)) {}

  void OnTestEnd(const testing::TestInfo& test) override {
    if (!test.result()->Skipped()) return;
    std::string reason = skip_reason(*test.result());
    // A skip in SetUpTestSuite is the suite's, not the case's.
    if (reason.empty())
      reason = skip_reason(testing::UnitTest::GetInstance()->current_test_suite()->ad_hoc_test_result());
    std::ofstream(file_, std::ios::app) << test.test_suite_name() << '.' << test.name() << '\t'
                                        << (reason.empty() ? "no reason given" : reason) << '\n';
  }

 private:
  std::string file_;
};

void record_skips(const char* program) {
  const char* folder = std::getenv("WYKE_SKIP_DIR");
  if (folder == nullptr || *folder == '\0') return;
  const std::string name = std::string(program).substr(std::string(program).rfind('/') + 1);
  testing::UnitTest::GetInstance()->listeners().Append(
      new SkipRecorder(std::string(folder) + "/" + name + "." + std::to_string(getpid())));
}

}  // namespace

int main(int argc, char** argv) {
  if (!wyke_test::enter_private_network())
    std::fprintf(stderr, "note: no private network namespace (%s); tests that need port 110 skip\n",
                 wyke_test::netns_failure().c_str());
  // A test that exceeds RLIMIT_FSIZE wants the write error, not the signal.
  std::signal(SIGXFSZ, SIG_IGN);
  testing::InitGoogleTest(&argc, argv);
  record_skips(argv[0]);
  return RUN_ALL_TESTS();
}
