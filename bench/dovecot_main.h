// The main() of a benchmark against Dovecot: in a private network of its
// own, where the server may take its usual ports; 77 (skipped) where that
// or Dovecot is not available.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>

#include "dovecot_server.h"
#include "netns.h"

namespace bench {

inline int run_with_dovecot(int argc, char** argv, const char* name) {
  // First, while the process has one thread.
  if (!wyke_test::enter_private_network() || !wyke_test::DovecotServer::unavailable().empty()) {
    std::fprintf(stderr, "%s: cannot run Dovecot here: %s\n", name, wyke_test::DovecotServer::unavailable().c_str());
    return 77;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace bench
