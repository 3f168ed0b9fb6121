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

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "pop3.h"
#include "pop3_server.h"
#include "temp_config.h"

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

// 10 to 20 header lines, some folded, as mail from lists and shops has them.
std::string message(int i) {
  const std::string n = std::to_string(i);
  std::string m;
  m += "Return-Path: <list-bounces+" + n + "@lists.example.org>\r\n";
  m += "Received: from mx" + std::to_string(i % 7) + ".example.net (mx.example.net [192.0.2." +
       std::to_string(i % 250) + "])\r\n\tby pop.example.org with ESMTPS id " + n + "ab9\r\n";
  if (i % 2 == 0) m += "Received: from localhost (localhost [127.0.0.1]) by mx.example.net\r\n";
  m += "From: \"=?ISO-8859-1?Q?J=FCrgen_M=FCller?=\" <juergen" + n + "@example.com>\r\n";
  m += "To: alice@example.org\r\n";
  if (i % 3 == 0) m += "Cc: bob@example.org, carol@example.org\r\n";
  m += "Subject: =?ISO-2022-JP?B?GyRCJEskWyQzGyhC?= meeting notes, part " + n + "\r\n";
  m += "Date: Tue, 14 May 2024 09:" + std::to_string(10 + i % 50) + ":00 +0200\r\n";
  m += "Message-ID: <" + n + ".1715670000@mail.example.com>\r\n";
  m += "MIME-Version: 1.0\r\n";
  m += "Content-Type: text/plain; charset=\"ISO-8859-1\"\r\n";
  if (i % 2 == 1) m += "Content-Transfer-Encoding: quoted-printable\r\n";
  if (i % 4 == 0) m += "List-Id: Project discussion <dev.lists.example.org>\r\n";
  if (i % 5 == 0) m += "X-Mailer: Example Mail 4.2\r\n";
  if (i % 3 == 1)
    m += "DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed; d=example.com; s=sel;\r\n"
         "\th=from:to:subject:date; bh=47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=;\r\n"
         "\tb=dGhpcyBpcyBub3QgYSByZWFsIHNpZ25hdHVyZSBidXQgaXQgbG9va3MgbGlrZSBvbmU=\r\n";
  return m + "\r\nHello,\r\nthe body is never fetched.\r\n";
}

std::vector<std::string> maildrop() {
  std::vector<std::string> messages;
  for (int i = 1; i <= maildrop_size; ++i) messages.push_back(message(i));
  return messages;
}

double process_cpu_ms() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// One server and one accounts file for every run, on a port of its own.
struct Loopback {
  wyke_test::TempConfigHome home;
  wyke_test::ScriptedPop3Server server{maildrop()};
  Loopback() {
    home.write("Mail/accounts", "[account]\nhost = 127.0.0.1\nuser = alice\npassword = secret\n", 0600);
    if (!server.start("127.0.0.1", 0)) {
      std::fprintf(stderr, "scripted server: %s\n", server.error().c_str());
      std::exit(1);
    }
    pop3_connect_port = server.port();
  }
};

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
  static Loopback loopback;
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
