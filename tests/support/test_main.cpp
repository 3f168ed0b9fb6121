// Common main of every suite: the private network first, while the process
// has one thread, then GoogleTest.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>

#include "netns.h"

int main(int argc, char** argv) {
  if (!wyke_test::enter_private_network())
    std::fprintf(stderr, "note: no private network namespace (%s); tests that need port 110 skip\n",
                 wyke_test::netns_failure().c_str());
  // A test that exceeds RLIMIT_FSIZE wants the write error, not the signal.
  std::signal(SIGXFSZ, SIG_IGN);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
