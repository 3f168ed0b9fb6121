// IMAP against a real Dovecot in a private network, each figure beside the
// reference client reference_imap.py (Python's imaplib) in the same run:
//
// - a check of 2,000 unseen messages over TLS, on loopback and through a
//   proxy with a 20 ms round trip: wall time, CPU of the checking thread
//   (of the whole interpreter for the reference), and the round trips, as
//   (delayed - loopback) / 20 ms;
// - delivery to screen: a message written into the Maildir (tmp/, then
//   new/) until its Subject is in the text a check gives, Wyke's IDLE
//   watcher telling the notifier and the check then running, median of 10;
//   the reference idles with imaplib and prints the new Subject;
// - resident memory an IDLE watcher adds to the process, idling.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "account_check.h"
#include "delay_proxy.h"
#include "dovecot_main.h"
#include "dovecot_server.h"
#include "imap.h"
#include "imap_idle.h"
#include "loopback.h"
#include "netns.h"
#include "temp_config.h"

namespace {

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

constexpr auto one_way = 10ms;
constexpr int unseen = 2000;
const std::vector<std::string> headers = {"From:", "Subject:"};

wyke_test::DovecotServer& dovecot() {
  static std::unique_ptr<wyke_test::DovecotServer> server = [] {
    auto made = std::make_unique<wyke_test::DovecotServer>(bench::maildrop(unseen));
    if (!made->start()) {
      std::fprintf(stderr, "dovecot: %s\n", made->error().c_str());
      std::exit(1);
    }
    return made;
  }();
  return *server;
}

bench::DelayProxy& proxy() {
  static bench::DelayProxy delayed(wyke_test::test_host_address, wyke_test::test_host_address,
                                   wyke_test::DovecotServer::imap_tls_port, one_way);
  return delayed;
}

int port_of(bool delayed) { return delayed ? proxy().port() : wyke_test::DovecotServer::imap_tls_port; }

// The checks list INBOX; delivery goes to a mailbox of its own, so that
// what it measures is the news and not a listing of 2,000 messages.
constexpr const char* delivery_mailbox = "Delivered";

void use_account(int port, const std::string& mailbox = "INBOX") {
  static wyke_test::TempConfigHome home;
  home.write("Mail/accounts",
             std::string("[account]\nprotocol = imap\nhost = ") + wyke_test::test_host_name + "\nuser = " +
                 wyke_test::DovecotServer::user + "\npassword = " + wyke_test::DovecotServer::password +
                 "\nsecurity = tls\nport = " + std::to_string(port) + "\ncafile = " + dovecot().ca_file() +
                 "\nmailbox = " + mailbox + "\n",
             0600);
}

std::string reference(const char* mode, int port, const std::string& mailbox = "INBOX") {
  return std::string("python3 " WYKE_BENCH_DIR "/reference_imap.py ") + mode + " " + std::to_string(port) + " " +
         wyke_test::DovecotServer::user + " " + wyke_test::DovecotServer::password + " " + wyke_test::test_host_name +
         " " + dovecot().ca_file() + " " + mailbox;
}

double seconds_since(clock_type::time_point start) {
  return std::chrono::duration<double>(clock_type::now() - start).count();
}

// range(0): 1 through the delaying proxy.
void BM_ImapCheck(benchmark::State& state) {
  use_account(port_of(state.range(0) == 1));
  std::size_t lines = 0;
  for (auto _ : state) lines = check_account(0, headers).lines;
  if (lines != 2 * unseen) state.SkipWithError(("listed " + std::to_string(lines) + " lines").c_str());
}

void BM_ReferenceImapCheck(benchmark::State& state) {
  const std::string command = reference("check", port_of(state.range(0) == 1)) + " 5";
  for (auto _ : state) {
    int lines = -1;
    double seconds = 0, cpu = 0;
    const std::string out = bench::output_of(command);
    if (std::sscanf(out.c_str(), "lines=%d seconds_per_check=%lf cpu_per_check=%lf", &lines, &seconds, &cpu) != 3 ||
        lines != 2 * unseen)
      return state.SkipWithError(("reference client: " + out).c_str());
    state.SetIterationTime(seconds);
    state.counters["cpu_ms"] = cpu * 1000;
  }
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

int delivered = 0;

std::string deliver(const std::string& subject) {
  dovecot().deliver("From: b@example.org\r\nSubject: " + subject + "\r\n\r\nBody\r\n",
                    "1900000000.M" + std::to_string(++delivered) + "P1.bench", delivery_mailbox);
  return subject;
}

// Wyke: the watcher's news, then the check on this thread, as the notifier
// window runs it.
void BM_DeliveryToScreen(benchmark::State& state) {
  deliver("made");  // the mailbox, before anyone opens it
  use_account(port_of(state.range(0) == 1), delivery_mailbox);
  std::mutex mutex;
  std::condition_variable told;
  int news = 0;
  const std::atomic<int> retry_ms{1000};
  IdleWatcher watcher(
      0,
      [&] {
        std::lock_guard lock(mutex);
        ++news;
        told.notify_all();
      },
      retry_ms, [] { return headers; });
  std::vector<double> times;
  for (auto _ : state) {
    const auto deadline = clock_type::now() + 20s;
    while (watcher.idles() == 0 && clock_type::now() < deadline) std::this_thread::sleep_for(5ms);
    int seen;
    {
      std::lock_guard lock(mutex);
      seen = news;
    }
    // Quiet first: news still coming of the message before (its RECENT,
    // its flags) would list this one early, sooner than the server tells.
    std::this_thread::sleep_for(1s);
    {
      std::lock_guard lock(mutex);
      seen = news;
    }
    const auto start = clock_type::now();
    const std::string subject = deliver("delivered " + std::to_string(delivered));
    bool shown = false;
    while (!shown && clock_type::now() < deadline) {
      std::unique_lock lock(mutex);
      if (!told.wait_until(lock, deadline, [&] { return news > seen; })) break;
      seen = news;
      lock.unlock();
      shown = check_account(0, headers).text.find(subject) != std::string::npos;
    }
    if (!shown) return state.SkipWithError("the new message never showed");
    times.push_back(seconds_since(start));
    state.SetIterationTime(times.back());
  }
  state.counters["median_ms"] = median(times) * 1000;
}

void BM_ReferenceDelivery(benchmark::State& state) {
  deliver("made");
  const std::string command = reference("idle", port_of(state.range(0) == 1), delivery_mailbox);
  std::vector<double> times;
  for (auto _ : state) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    char line[256] = "";
    if (!pipe || std::fgets(line, sizeof line, pipe.get()) == nullptr)
      return state.SkipWithError("reference client did not idle");
    const auto start = clock_type::now();
    const std::string subject = deliver("delivered " + std::to_string(delivered));
    if (std::fgets(line, sizeof line, pipe.get()) == nullptr || std::string(line).find(subject) == std::string::npos)
      return state.SkipWithError(("reference client: " + std::string(line)).c_str());
    times.push_back(seconds_since(start));
    state.SetIterationTime(times.back());
  }
  state.counters["median_ms"] = median(times) * 1000;
}

// What one idling watcher adds: its thread, its TLS session, its buffers.
void BM_IdleMemory(benchmark::State& state) {
  use_account(port_of(false));
  for (auto _ : state) {
    check_account(0, headers);  // the polling notifier's own share, first
    const double before = bench::status_kib("VmRSS:");
    const std::atomic<int> retry_ms{1000};
    IdleWatcher watcher(0, [] {}, retry_ms, [] { return headers; });
    const auto deadline = clock_type::now() + 20s;
    while (watcher.idles() == 0 && clock_type::now() < deadline) std::this_thread::sleep_for(5ms);
    state.counters["added_kb"] = bench::status_kib("VmRSS:") - before;
  }
}

// Best of 5 on both sides: on a shared machine the CPU of one check varies
// by half from one to the next.
BENCHMARK(BM_ImapCheck)->ArgName("delayed")->Arg(0)->Arg(1)->Iterations(1)->Repetitions(5)->ReportAggregatesOnly(false)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReferenceImapCheck)->ArgName("delayed")->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeliveryToScreen)->ArgName("delayed")->Arg(0)->Arg(1)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReferenceDelivery)->ArgName("delayed")->Arg(0)->Arg(1)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdleMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return bench::run_with_dovecot(argc, argv, "bench_imap"); }
