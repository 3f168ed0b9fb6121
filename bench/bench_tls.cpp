// Checks over TLS against a real Dovecot in a private network:
//
// - over a link with a 20 ms round trip (a delaying proxy), 200 messages:
//   the notifier's check in mode `tls` (pipelined TOPs) beside the reference
//   client reference_check.py on Python's poplib.POP3_SSL (one command at a
//   time), both through the same proxy to the same server in the same run;
//   wall time over the round trip gives the round trips each one needs, and
//   the same checks without the proxy tell the time spent computing;
// - on plain loopback, 2,000 messages: the CPU of the check's thread in mode
//   `tls` and in mode `none`, which the server allows to a client on its own
//   address only.
//
// Each side reports its best single check. The first check of a process
// (nothing of OpenSSL, the trust store or the converters set up yet, as at
// the notifier's start) runs in a fresh copy of this program.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "delay_proxy.h"
#include "dovecot_main.h"
#include "dovecot_server.h"
#include "loopback.h"
#include "netns.h"
#include "temp_config.h"
#include "wyke.h"

namespace {

using namespace std::chrono_literals;

constexpr auto one_way = 10ms;
const std::vector<std::string> headers = {"From:", "Subject:"};

// The server of the current maildrop size; a new size replaces it, since
// every instance listens on the same ports.
wyke_test::DovecotServer& dovecot(int size) {
  static std::unique_ptr<wyke_test::DovecotServer> server;
  static int served = -1;
  if (served != size) {
    server.reset();
    server = std::make_unique<wyke_test::DovecotServer>(bench::maildrop(size));
    server->also_listen_on_client_address();
    if (!server->start()) {
      std::fprintf(stderr, "dovecot: %s\n", server->error().c_str());
      std::exit(1);
    }
    served = size;
  }
  return *server;
}

// The accounts file of the run's settings folder.
void use_account(const std::string& host, const std::string& security, int port, const std::string& cafile) {
  static wyke_test::TempConfigHome home;
  std::string text = "[account]\nhost = " + host + "\nuser = " + wyke_test::DovecotServer::user +
                     "\npassword = " + wyke_test::DovecotServer::password + "\nsecurity = " + security + "\n";
  if (port != 0) text += "port = " + std::to_string(port) + "\n";
  if (!cafile.empty()) text += "cafile = " + cafile + "\n";
  home.write("Mail/accounts", text, 0600);
}

bench::DelayProxy& proxy() {
  static bench::DelayProxy delayed(wyke_test::test_host_address, wyke_test::test_host_address,
                                   wyke_test::DovecotServer::tls_port, one_way);
  if (!delayed.listening()) {
    std::fprintf(stderr, "delaying proxy: cannot listen\n");
    std::exit(1);
  }
  return delayed;
}

// range(0): 1 through the delaying proxy, 0 straight to the server's port.
int tls_port(const benchmark::State& state) {
  return state.range(0) == 1 ? proxy().port() : wyke_test::DovecotServer::tls_port;
}

int expected_lines(int size) { return 2 * size; }

// The last check seen from the link: the proxy's accept to its close, in
// round trips. The TCP handshake is not delayed, so the rest is the client's
// and the server's exchange alone.
void link_round_trips(benchmark::State& state, int ended_before) {
  if (proxy().ended_after(ended_before, 5s) == ended_before) return;
  const double ms = std::chrono::duration<double, std::milli>(proxy().last_connection()).count();
  state.counters["link_ms"] = ms;
  state.counters["link_round_trips"] = ms / std::chrono::duration<double, std::milli>(2 * one_way).count();
  // The times the client spoke again after hearing from the server: the
  // round trips its exchange needs, whatever either side's computing took.
  const std::vector<bench::DelayProxy::Chunk> chunks = proxy().last_chunks();
  int turns = 0;
  for (std::size_t i = 1; i < chunks.size(); ++i) turns += chunks[i].from_client && !chunks[i - 1].from_client;
  state.counters["link_turns"] = turns;
}

// The chunks of the last connection as the link saw them, one a line, on
// stderr: where a check's round trips go.
void print_chunks() {
  std::fprintf(stderr, "first check at the link (ms from the accept, side, bytes):\n");
  for (const bench::DelayProxy::Chunk& chunk : proxy().last_chunks())
    std::fprintf(stderr, "  %8.1f %s %zu\n", std::chrono::duration<double, std::milli>(chunk.at).count(),
                 chunk.from_client ? "client" : "server", chunk.bytes);
}

void report_lines(benchmark::State& state, int lines, int size) {
  if (lines != expected_lines(size)) state.SkipWithError(("listed " + std::to_string(lines) + " lines").c_str());
  state.counters["lines"] = lines;
}

void BM_TlsCheck(benchmark::State& state) {
  const int size = static_cast<int>(state.range(1));
  const std::string cafile = dovecot(size).ca_file();
  use_account(wyke_test::test_host_name, "tls", tls_port(state), cafile);
  const int ended = state.range(0) == 1 ? proxy().ended_after(0, 0ms) : 0;
  int lines = 0;
  for (auto _ : state) lines = WykeView::checkmail(headers);
  report_lines(state, lines, size);
  if (state.range(0) == 1) link_round_trips(state, ended);
}

// What a fresh copy of this program run with this flag does: one check,
// its line count and its wall time in ms on stdout. Without --debug:
// printing every line would be part of what is measured.
constexpr const char* first_check_flag = "--first-check";

int run_first_check() {
  const auto start = std::chrono::steady_clock::now();
  const int lines = WykeView::checkmail(headers);
  const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
  std::printf("%d %.3f\n", lines, took.count());
  return 0;
}

// The first check of a process, as at the notifier's start; range(0) as
// for BM_TlsCheck. real_time is the check's own wall time; through the
// proxy, the link's counters tell its time from the accept to the close.
void BM_FirstTlsCheck(benchmark::State& state) {
  const int size = static_cast<int>(state.range(1));
  use_account(wyke_test::test_host_name, "tls", tls_port(state), dovecot(size).ca_file());
  const int ended = state.range(0) == 1 ? proxy().ended_after(0, 0ms) : 0;
  const std::string command = std::filesystem::read_symlink("/proc/self/exe").string() + " " + first_check_flag;
  int lines = 0;
  for (auto _ : state) {
    double ms = 0;
    if (std::sscanf(bench::output_of(command).c_str(), "%d %lf", &lines, &ms) != 2)
      return state.SkipWithError("the first check told nothing");
    state.SetIterationTime(ms / 1000);
  }
  report_lines(state, lines, size);
  if (state.range(0) == 0) return;
  link_round_trips(state, ended);
  print_chunks();
}

void BM_ReferenceTlsCheck(benchmark::State& state) {
  const int size = static_cast<int>(state.range(1));
  const std::string command = "python3 " WYKE_BENCH_DIR "/reference_check.py " + std::to_string(tls_port(state)) +
                              " " + wyke_test::DovecotServer::user + " " + wyke_test::DovecotServer::password +
                              " 3 " + wyke_test::test_host_name + " " + dovecot(size).ca_file();
  const int ended = state.range(0) == 1 ? proxy().ended_after(0, 0ms) : 0;
  for (auto _ : state) {
    int lines = -1;
    double seconds = 0;
    if (!bench::reference_listing(state, command, lines, seconds)) return;
    state.SetIterationTime(seconds);
    report_lines(state, lines, size);
  }
  if (state.range(0) == 1) link_round_trips(state, ended);
}

// range(0): 1 for `tls` (port 995 under the test host name), 0 for `none`
// (port 110 on the client's own address); range(1): messages.
void BM_CheckCpu(benchmark::State& state) {
  const bool tls = state.range(0) == 1;
  const int size = static_cast<int>(state.range(1));
  const std::string cafile = dovecot(size).ca_file();
  if (tls)
    use_account(wyke_test::test_host_name, "tls", 0, cafile);
  else
    use_account("127.0.0.1", "none", 0, "");
  int lines = 0;
  for (auto _ : state) lines = WykeView::checkmail(headers);
  report_lines(state, lines, size);
}

double smallest(const std::vector<double>& values) { return *std::min_element(values.begin(), values.end()); }

// 200 messages, straight and through the link; the best of 5 checks.
void best_of_five_each_way(benchmark::internal::Benchmark* b) {
  b->ArgNames({"delayed", "messages"})
      ->Args({0, 200})
      ->Args({1, 200})
      ->Iterations(1)
      ->Repetitions(5)
      ->ComputeStatistics("min", smallest);
}

BENCHMARK(BM_TlsCheck)->Apply(best_of_five_each_way)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstTlsCheck)->Apply(best_of_five_each_way)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReferenceTlsCheck)
    ->ArgNames({"delayed", "messages"})
    ->Args({0, 200})
    ->Args({1, 200})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CheckCpu)
    ->ArgNames({"tls", "messages"})
    ->Args({0, 2000})
    ->Args({1, 2000})
    ->Iterations(1)
    ->Repetitions(5)
    ->ComputeStatistics("min", smallest)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  // Already in the private network and the settings folder of the run that
  // started it.
  if (argc == 2 && std::strcmp(argv[1], first_check_flag) == 0) return run_first_check();
  return bench::run_with_dovecot(argc, argv, "bench_tls");
}
