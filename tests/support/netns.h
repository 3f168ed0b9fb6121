// A private network namespace for the test process, so tests may listen on
// port 110 of their own loopback without root and without meeting a real server,
// and a private mount namespace in which /etc/hosts names a test host.
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

// A server that must tell its own address from its client's (one that trusts
// a client on its own address) listens on test_host_address under
// test_host_name, while clients connect from 127.0.0.1. The private
// /etc/hosts maps the name; /etc/passwd and /etc/group name the test's own ids
// where the system files do not, for servers that look their user up.
inline constexpr const char* test_host_name = "pop.wyke.test";
inline constexpr const char* test_host_address = "127.0.0.2";

// True once enter_private_network() has also made those private files.
bool have_private_hosts();
const std::string& private_hosts_failure();

}  // namespace wyke_test

// Skips the current test when it cannot own port 110.
#define WYKE_REQUIRE_PRIVATE_NETWORK()                                              \
  do {                                                                              \
    if (!::wyke_test::have_private_network())                                       \
      GTEST_SKIP() << "needs a private network namespace (unshare -rn): "           \
                   << ::wyke_test::netns_failure();                                 \
  } while (0)
