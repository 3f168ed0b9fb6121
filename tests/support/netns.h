// A private network namespace for the test process, so tests may listen on
// port 110 of their own loopback without root and without meeting a real server.
#pragma once

#include <string>

namespace wyke_test {

// Moves the calling process into a new user and network namespace with the
// loopback interface up, then drops every capability but the binding of
// ports below 1024, so that file permissions bind the tests even when they
// run as root while port 110 stays theirs. Must run while the
// process has a single thread (first thing in main). Returns false, with the
// reason in netns_failure(), where namespaces are unavailable.
bool enter_private_network();

// True once enter_private_network() has succeeded.
bool have_private_network();
const std::string& netns_failure();

}  // namespace wyke_test

// Skips the current test when it cannot own port 110.
#define WYKE_REQUIRE_PRIVATE_NETWORK()                                              \
  do {                                                                              \
    if (!::wyke_test::have_private_network())                                       \
      GTEST_SKIP() << "needs a private network namespace (unshare -rn): "           \
                   << ::wyke_test::netns_failure();                                 \
  } while (0)
