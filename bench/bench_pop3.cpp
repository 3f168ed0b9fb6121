// One mail check's worth of POP3 traffic: a maildrop of 2,000 messages with
// realistic headers, listed from the scripted server on loopback the way the
// check does it (STAT before every TOP). Read byte by byte (read_size 1)
// against reading through the session's buffer.
//
// Columns: Time is wall time, CPU the client thread's; process_cpu_ms adds
// the server thread; recv_calls are the client's.
#include <benchmark/benchmark.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <ctime>
#include <string>

#include "loopback.h"
#include "pop3.h"

// Counts each thread's recv calls, so the client's are told from the server's.
namespace {
thread_local long recv_calls = 0;
}
extern "C" ssize_t recv(int fd, void* buffer, size_t length, int flags) {
  ++recv_calls;
  return syscall(SYS_recvfrom, fd, buffer, length, flags, nullptr, nullptr);
}

namespace {

constexpr int maildrop_size = 2000;

double process_cpu_ms() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// The mail check's session; the number of lines read, or -1.
long check(std::size_t& bytes) {
  POP3 mes(0);
  if (mes.Connect() != POP3::POP3_COMMAND_SUCSESS) return -1;
  long lines = 0;
  for (int i = 1; i <= mes.GetMsgNum(); ++i) {
    if (mes.TOP(i, 0) != POP3::POP3_COMMAND_SUCSESS) continue;
    for (std::string p = mes.GetData(); !p.empty(); p = mes.GetData()) {
      bytes += p.size();
      ++lines;
    }
  }
  mes.QUIT();
  return lines;
}

void BM_ListMaildrop(benchmark::State& state) {
  static const bench::Loopback loopback(maildrop_size);
  loopback.use();
  pop3_read_size = static_cast<std::size_t>(state.range(0));
  long calls = 0, lines = 0;
  std::size_t bytes = 0;
  const double cpu_before = process_cpu_ms();
  for (auto _ : state) {
    recv_calls = 0;
    const long read = check(bytes);
    calls += recv_calls;
    if (read < 0) {
      state.SkipWithError("login failed");
      break;
    }
    lines += read;
  }
  const double cpu = process_cpu_ms() - cpu_before;
  using benchmark::Counter;
  state.counters["recv_calls"] = Counter(static_cast<double>(calls), Counter::kAvgIterations);
  state.counters["lines"] = Counter(static_cast<double>(lines), Counter::kAvgIterations);
  state.counters["bytes"] = Counter(static_cast<double>(bytes), Counter::kAvgIterations);
  state.counters["process_cpu_ms"] = Counter(cpu, Counter::kAvgIterations);
}

BENCHMARK(BM_ListMaildrop)->ArgName("read_size")->Arg(1)->Arg(4096)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
