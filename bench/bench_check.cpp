// A whole mail check of 200 and of 2,000 realistic messages from the scripted
// server on loopback: the notifier's check (login, STAT before every TOP,
// From and Subject unfolded and decoded, QUIT) beside the reference client
// reference_check.py doing the same job with Python's poplib and
// email.header, against the same server and maildrop in the same run.
//
// Each side is timed on single checks and reports the best of `rounds`:
// BM_Checkmail as the "min" aggregate of its repetitions, BM_ReferenceCheck
// as its one (manual) time, the best that the script measured itself.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "loopback.h"
#include "wyke.h"

namespace {

constexpr int rounds = 10;
const std::vector<std::string> headers = {"From:", "Subject:"};

// One server per maildrop size, made on first use and kept for the run.
const bench::Loopback& loopback(int size) {
  static std::map<int, std::unique_ptr<bench::Loopback>> servers;
  std::unique_ptr<bench::Loopback>& server = servers[size];
  if (!server) server = std::make_unique<bench::Loopback>(size);
  return *server;
}

// Every message carries one From and one Subject field.
int expected_lines(int size) { return 2 * size; }

void BM_Checkmail(benchmark::State& state) {
  const int size = static_cast<int>(state.range(0));
  loopback(size).use();
  int lines = 0;
  for (auto _ : state) lines = WykeView::checkmail(headers);
  if (lines != expected_lines(size)) state.SkipWithError(("listed " + std::to_string(lines) + " lines").c_str());
  state.counters["lines"] = lines;
}

void BM_ReferenceCheck(benchmark::State& state) {
  const int size = static_cast<int>(state.range(0));
  const std::string command = "python3 " WYKE_BENCH_DIR "/reference_check.py " +
                              std::to_string(loopback(size).port()) + " " + bench::user + " " + bench::password +
                              " " + std::to_string(rounds);
  for (auto _ : state) {
    int lines = -1;
    double seconds = 0;
    if (!bench::reference_listing(state, command, lines, seconds)) return;
    if (lines != expected_lines(size)) {
      state.SkipWithError(("reference client listed " + std::to_string(lines) + " lines").c_str());
      return;
    }
    state.SetIterationTime(seconds);
    state.counters["lines"] = lines;
  }
}

double smallest(const std::vector<double>& values) { return *std::min_element(values.begin(), values.end()); }

BENCHMARK(BM_Checkmail)
    ->ArgName("messages")
    ->Arg(200)
    ->Arg(2000)
    ->Iterations(1)
    ->Repetitions(rounds)
    ->ComputeStatistics("min", smallest)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReferenceCheck)
    ->ArgName("messages")
    ->Arg(200)
    ->Arg(2000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
