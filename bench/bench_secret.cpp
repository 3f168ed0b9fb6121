// What a check pays for getting its password from a command instead of the
// accounts file: one run of `/bin/sh -c COMMAND` with its pipes, waits and
// process group, for a command that only prints (the floor under any real
// keyring or password manager lookup).
#include <benchmark/benchmark.h>

#include "platform/helper_command.h"

namespace {

void BM_HelperCommand(benchmark::State& state) {
  for (auto _ : state) {
    const HelperOutput output = run_helper_command("printf 'secret\\n'", 255);
    if (!output.ok) {
      state.SkipWithError(output.failure.c_str());
      return;
    }
  }
}
BENCHMARK(BM_HelperCommand)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
