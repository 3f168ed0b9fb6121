// What the check benchmarks share: a maildrop of realistic messages served by
// the scripted server on a port of its own, and an accounts file pointing at
// it. Benchmarks run outside the tests' private network, so never on port 110.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "pop3.h"
#include "pop3_server.h"
#include "temp_config.h"

namespace bench {

inline constexpr const char* user = "alice";
inline constexpr const char* password = "secret";

// 10 to 20 header lines, some folded, as mail from lists and shops has them;
// From and Subject in plain text or in encoded words of several kinds.
inline std::string message(int i) {
  const std::string n = std::to_string(i);
  static const char* const subjects[] = {
      "=?ISO-2022-JP?B?GyRCJEskWyQzGyhC?= meeting notes, part ",
      "=?UTF-8?B?UsOpc3Vtw6kgZHUgam91cg==?= ",
      "Re: =?ISO-8859-1?Q?Caf=E9_cr=E8me?= order ",
      "Minutes of the weekly meeting, number ",
  };
  std::string m;
  m += "Return-Path: <list-bounces+" + n + "@lists.example.org>\r\n";
  m += "Received: from mx" + std::to_string(i % 7) + ".example.net (mx.example.net [192.0.2." +
       std::to_string(i % 250) + "])\r\n\tby pop.example.org with ESMTPS id " + n + "ab9\r\n";
  if (i % 2 == 0) m += "Received: from localhost (localhost [127.0.0.1]) by mx.example.net\r\n";
  if (i % 2 == 0)
    m += "From: =?ISO-8859-1?Q?J=FCrgen_M=FCller?= <juergen" + n + "@example.com>\r\n";
  else
    m += "From: Ann Example <ann" + n + "@example.com>\r\n";
  m += "To: alice@example.org\r\n";
  if (i % 3 == 0) m += "Cc: bob@example.org, carol@example.org\r\n";
  m += "Subject: " + std::string(subjects[i % 4]) + n + "\r\n";
  if (i % 5 == 0) m += "\tfolded onto a second line\r\n";
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

inline std::vector<std::string> maildrop(int size) {
  std::vector<std::string> messages;
  for (int i = 1; i <= size; ++i) messages.push_back(message(i));
  return messages;
}

// The output of `command`, or "" when it could not run.
inline std::string output_of(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return {};
  std::string out;
  char chunk[256];
  while (std::fgets(chunk, sizeof chunk, pipe.get()) != nullptr) out += chunk;
  return out;
}

// One listing by the Python reference client run as `command`: its line
// count and the seconds it took per check, or false (the run skipped with
// the reason) when it could not say.
inline bool reference_listing(benchmark::State& state, const std::string& command, int& lines, double& seconds) {
  const std::string out = output_of(command);
  if (std::sscanf(out.c_str(), "lines=%d seconds_per_check=%lf", &lines, &seconds) == 2) return true;
  state.SkipWithError(("reference client: " + out).c_str());
  return false;
}

// One server with `size` messages, for the whole run.
class Loopback {
 public:
  explicit Loopback(int size) : server_(maildrop(size)) {
    home_.write("Mail/accounts",
                std::string("[account]\nhost = 127.0.0.1\nuser = ") + user + "\npassword = " + password + "\n", 0600);
    server_.set_login(user, password);
    if (!server_.start("127.0.0.1", 0)) {
      std::fprintf(stderr, "scripted server: %s\n", server_.error().c_str());
      std::exit(1);
    }
  }
  // The client's next sessions go to this server.
  void use() const { pop3_connect_port = server_.port(); }
  std::uint16_t port() const { return server_.port(); }

 private:
  wyke_test::TempConfigHome home_;
  wyke_test::ScriptedPop3Server server_;
};

// A memory figure of this process from /proc/self/status, in KiB ("VmRSS:"
// now, "VmHWM:" its peak so far); 0 where it is missing.
inline double status_kib(const std::string& field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(field, 0) == 0) return std::stod(line.substr(field.size()));
  return 0;
}

}  // namespace bench
