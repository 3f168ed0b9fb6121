// Three accounts, each its own scripted server over TLS behind its own link
// with a 20 ms round trip, one of them with 2,000 messages: a whole check of
// the three at once beside the same three checked one by one in the same
// run, and the peak resident memory of the checking process. The servers
// and links run in a child process, so that the memory is the check's own.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "delay_proxy.h"
#include "loopback.h"
#include "test_certs.h"
#include "wyke.h"

namespace {

constexpr int sizes[] = {2000, 50, 50};
constexpr auto one_way = std::chrono::milliseconds(10);
const std::vector<std::string> headers = {"From:", "Subject:"};

struct Servers {
  std::vector<std::uint16_t> ports;  // of the links, one per account
  std::string ca_file;
};

// Forks the servers and their links off before this process has a second
// thread; the child serves until this process ends and its pipe closes.
Servers serve_in_a_child(const wyke_test::TestCertificates& certs) {
  int ports[2], alive[2];
  if (pipe(ports) != 0 || pipe(alive) != 0) std::exit(1);
  if (fork() == 0) {
    close(alive[1]);
    std::vector<std::unique_ptr<wyke_test::ScriptedPop3Server>> servers;
    std::vector<std::unique_ptr<bench::DelayProxy>> links;
    for (const int size : sizes) {
      auto& server = servers.emplace_back(std::make_unique<wyke_test::ScriptedPop3Server>(bench::maildrop(size)));
      server->set_login(bench::user, bench::password);
      server->use_tls(wyke_test::ScriptedPop3Server::TlsStart::immediately, certs.good().certificate,
                      certs.good().key);
      server->set_capabilities({"TOP", "USER", "PIPELINING"});
      if (!server->start("127.0.0.1", 0)) _exit(1);
      auto& link = links.emplace_back(std::make_unique<bench::DelayProxy>("127.0.0.1", "127.0.0.1", server->port(),
                                                                          one_way));
      const std::uint16_t port = link->port();
      if (write(ports[1], &port, sizeof port) != sizeof port) _exit(1);
    }
    char byte;
    while (read(alive[0], &byte, 1) > 0) {
    }
    _exit(0);
  }
  close(ports[1]);
  close(alive[0]);  // alive[1] stays open for the process's life
  Servers servers{{}, certs.ca()};
  for (std::uint16_t port = 0; servers.ports.size() < std::size(sizes); servers.ports.push_back(port))
    if (read(ports[0], &port, sizeof port) != sizeof port) std::exit(1);
  close(ports[0]);
  return servers;
}

std::string account(const Servers& servers, std::size_t n) {
  return "[account]\nname = " + std::to_string(sizes[n]) + " messages\nhost = 127.0.0.1\nport = " +
         std::to_string(servers.ports[n]) + "\nsecurity = tls\ncafile = " + servers.ca_file + "\nuser = " +
         bench::user + "\npassword = " + bench::password + "\n";
}

void BM_ThreeAccounts(benchmark::State& state) {
  static const wyke_test::TestCertificates certs;
  static const Servers servers = serve_in_a_child(certs);
  wyke_test::TempConfigHome home;
  // One check of `file`, in seconds; false when it did not list `lines`.
  const auto check = [&](const std::string& file, int lines, double& seconds) {
    home.write("Mail/accounts", file, 0600);
    const auto start = std::chrono::steady_clock::now();
    const int listed = WykeView::checkmail(headers);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (listed == lines) return true;
    state.SkipWithError(("listed " + std::to_string(listed) + " lines, not " + std::to_string(lines)).c_str());
    return false;
  };
  double alone_sum = 0, slowest_sum = 0, together_sum = 0;
  for (auto _ : state) {
    double slowest = 0;
    std::string all;
    int all_lines = 0;
    for (std::size_t n = 0; n < std::size(sizes); ++n) {
      double seconds = 0;
      if (!check(account(servers, n), 2 * sizes[n], seconds)) return;
      alone_sum += seconds;
      slowest = std::max(slowest, seconds);
      all += account(servers, n);
      all_lines += 1 + 2 * sizes[n];
    }
    slowest_sum += slowest;
    double together = 0;
    if (!check(all, all_lines, together)) return;
    together_sum += together;
    state.SetIterationTime(together);
  }
  using benchmark::Counter;
  state.counters["alone_sum_ms"] = Counter(alone_sum * 1e3, Counter::kAvgIterations);
  state.counters["slowest_alone_ms"] = Counter(slowest_sum * 1e3, Counter::kAvgIterations);
  state.counters["together_ms"] = Counter(together_sum * 1e3, Counter::kAvgIterations);
  state.counters["peak_rss_kib"] = bench::status_kib("VmHWM:");
}

BENCHMARK(BM_ThreeAccounts)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
