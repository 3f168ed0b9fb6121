// Secured checks against the scripted server over real TLS: every way the
// server's identity or the upgrade can fail ends in "Error" before a user
// name or password leaves, with a reason the user can act on; the ways of
// trusting a server succeed; pipelined and one-by-one listings agree; the
// deadline, the cancel and IPv6.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <netdb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "netns.h"
#include "platform/debug_log.h"
#include "platform/network_cancel.h"
#include "platform/report.h"
#include "platform/sockets.h"
#include "platform/tls_transport.h"
#include "pop3_account.h"
#include "pop3_server.h"
#include "temp_config.h"
#include "test_certs.h"
#include "wyke.h"

// Lets a lookup of "hang.test" end; until then it hangs, as a resolver
// whose servers do not answer does (for a few seconds at most).
std::atomic<bool> release_hanging_lookup{false};

// "both.test" resolves as a host with an IPv6 and an IPv4 address does:
// ::1 first, then 127.0.0.1. Every other name goes to the real resolver.
extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** found) {
  using Resolver = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
  static const auto real = reinterpret_cast<Resolver>(dlsym(RTLD_NEXT, "getaddrinfo"));
  if (node != nullptr && std::string_view(node) == "hang.test") {
    for (int i = 0; i < 500 && !release_hanging_lookup; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return EAI_AGAIN;
  }
  if (node == nullptr || std::string_view(node) != "both.test") return real(node, service, hints, found);
  addrinfo* v6 = nullptr;
  addrinfo* v4 = nullptr;
  if (const int error = real("::1", service, hints, &v6); error != 0) return error;
  if (const int error = real("127.0.0.1", service, hints, &v4); error != 0) {
    freeaddrinfo(v6);
    return error;
  }
  addrinfo* last = v6;
  while (last->ai_next != nullptr) last = last->ai_next;
  last->ai_next = v4;
  *found = v6;
  return 0;
}

namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;
using wyke_test::ScriptedPop3Server;
using TlsStart = ScriptedPop3Server::TlsStart;
using Certs = wyke_test::TestCertificates;
// Which of the suite's certificates a server shows.
using Pick = const wyke_test::CertFiles& (Certs::*)() const;

constexpr auto bounded = 10s;
const Lines headers = {"From:", "Subject:"};
const Lines two_messages = {
    "From: Ann <ann@example.org>\r\nSubject: Lunch\r\n\r\nbody\r\n",
    "Subject: Report\r\nFrom: bob@example.org\r\n",
};
const std::string two_listed = "From: Ann <ann@example.org>\nSubject: Lunch\nSubject: Report\nFrom: bob@example.org";
const Lines stls_capabilities = {"TOP", "USER", "STLS", "PIPELINING"};

// SSL_CERT_FILE for the test's life: the system store must not decide.
class TrustStore {
 public:
  explicit TrustStore(const std::string& file) {
    if (const char* value = std::getenv("SSL_CERT_FILE")) saved_ = value;
    setenv("SSL_CERT_FILE", file.c_str(), 1);
  }
  ~TrustStore() {
    if (saved_)
      setenv("SSL_CERT_FILE", saved_->c_str(), 1);
    else
      unsetenv("SSL_CERT_FILE");
  }
  TrustStore(const TrustStore&) = delete;
  TrustStore& operator=(const TrustStore&) = delete;

 private:
  std::optional<std::string> saved_;
};

class Tls : public testing::Test {
 protected:
  static void SetUpTestSuite() { certs = new Certs; }
  static void TearDownTestSuite() {
    delete certs;
    certs = nullptr;
  }
  void SetUp() override { WYKE_REQUIRE_PRIVATE_NETWORK(); }
  void TearDown() override { wyke_header.clear(); }

  // Account 0 with `lines` after host, user and password.
  void account(const std::string& lines, const std::string& host = "localhost") {
    home.write("Mail/accounts", "[account]\nhost = " + host + "\nuser = alice\npassword = secret\n" + lines + "\n",
               0600);
  }
  int check() {
    wyke_header = "left over";
    return WykeView::checkmail(headers);
  }

  static inline Certs* certs = nullptr;
  wyke_test::TempConfigHome home;
  wyke_test::ShortSessionWaits waits;
};

// Far above any reason a certificate gives, far below a forged name's size.
constexpr std::size_t max_reason_length = 512;

// One line of printable ASCII: no escape sequence reaches a terminal.
bool printable_ascii(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](unsigned char c) { return c >= 0x20 && c <= 0x7e; });
}

bool sent_credentials(const Lines& log) {
  for (const std::string& line : log)
    if (line.rfind("USER", 0) == 0 || line.rfind("PASS", 0) == 0) return true;
  return false;
}

// --- Whom to trust ----------------------------------------------------------------

struct TrustCase {
  const char* name;
  const char* security;  // "tls" or "starttls"
  // The server's set-up; the certificates are the suite's.
  std::function<void(ScriptedPop3Server&, const Certs&)> serve;
  // Account lines beyond host, user and password.
  std::function<std::string(const Certs&)> keys;
  bool ca_in_store;     // SSL_CERT_FILE holds the test CA
  std::string shown;    // "Error", or the listing
  std::string because;  // in the reason of a refusal
  bool connects = true;  // false: refused before any connection
};

auto tls_server(Pick which, TlsStart start = TlsStart::immediately,
                bool tls10_only = false) {
  return [=](ScriptedPop3Server& server, const Certs& certs) {
    const wyke_test::CertFiles& files = (certs.*which)();
    server.use_tls(start, files.certificate, files.key, tls10_only);
    server.set_capabilities(stls_capabilities);
  };
}

auto keys(std::string lines) {
  return [=](const Certs&) { return lines; };
}

const std::vector<TrustCase> trust_cases = {
    // Refused: nothing of the login may leave.
    {"untrusted_issuer", "tls", tls_server(&Certs::good), keys(""), false, "Error",
     "untrusted issuer"},
    {"self_signed", "tls", tls_server(&Certs::self_signed), keys(""), true, "Error",
     "untrusted issuer"},
    {"expired", "tls", tls_server(&Certs::expired), keys(""), true, "Error", "expired on"},
    // Names on a forged certificate reach the reason only made harmless.
    {"forged_name_untrusted", "tls", tls_server(&Certs::hostile_self_signed), keys(""), true,
     "Error", "untrusted issuer (CN = localhost, OU = \"\\1B]0;owned\\07\\1B[2J\\C2\\9B31m"},
    {"forged_name_other_host", "tls", tls_server(&Certs::hostile_other_host), keys(""), true,
     "Error", "is not issued for localhost (subject CN = localhost, OU = \"\\1B]0;owned\\07"},
    {"other_host_name", "tls", tls_server(&Certs::other_host), keys(""), true, "Error",
     "is not issued for localhost"},
    {"fingerprint_of_another_certificate", "tls", tls_server(&Certs::good),
     [](const Certs& c) { return "fingerprint = " + c.self_signed().fingerprint; }, true,
     "Error", "is not the pinned one"},
    {"no_stls_in_capa", "starttls",
     [](ScriptedPop3Server& s, const Certs& c) {
       s.use_tls(TlsStart::on_stls, c.good().certificate, c.good().key);
       s.set_capabilities({"TOP", "USER", "PIPELINING"});
     },
     keys(""), true, "Error", "does not offer STLS"},
    {"no_capa_at_all", "starttls",
     [](ScriptedPop3Server& s, const Certs& c) {
       s.use_tls(TlsStart::on_stls, c.good().certificate, c.good().key);
     },
     keys(""), true, "Error", "does not offer STLS"},
    {"stls_refused", "starttls",
     [](ScriptedPop3Server& s, const Certs& c) {
       tls_server(&Certs::good, TlsStart::on_stls)(s, c);
       s.set_reply("STLS", "-ERR [SYS/TEMP] not now\r\n");
     },
     keys(""), true, "Error", "refused STLS: \"-ERR [SYS/TEMP] not now\""},
    {"plain_text_server_on_the_tls_port", "tls", [](ScriptedPop3Server&, const Certs&) {},
     keys(""), true, "Error", "TLS handshake with localhost port 995 failed"},
    {"silent_during_the_handshake", "tls",
     [](ScriptedPop3Server& s, const Certs&) { s.go_silent_at(0); }, keys(""), true, "Error",
     "TLS handshake with localhost port 995 timed out"},
    {"tls_1_0_only", "tls", tls_server(&Certs::good, TlsStart::immediately, true), keys(""),
     true, "Error", "TLS handshake with localhost port 995 failed"},
    {"missing_cafile", "tls", tls_server(&Certs::good), keys("cafile = /nonexistent.pem"),
     true, "Error", "cannot read the cafile /nonexistent.pem: No such file or directory", false},
    // Trusted.
    {"ca_in_the_system_store", "tls", tls_server(&Certs::good), keys(""), true, two_listed,
     ""},
    {"ca_as_cafile", "tls", tls_server(&Certs::good),
     [](const Certs& c) { return "cafile = " + c.ca(); }, false, two_listed, ""},
    {"self_signed_as_cafile", "tls", tls_server(&Certs::self_signed),
     [](const Certs& c) { return "cafile = " + c.self_signed().certificate; }, false,
     two_listed, ""},
    {"pinned_self_signed", "tls", tls_server(&Certs::self_signed),
     [](const Certs& c) { return "fingerprint = " + c.self_signed().fingerprint; }, false,
     two_listed, ""},
    {"pinned_decides_alone_even_when_expired", "tls", tls_server(&Certs::expired),
     [](const Certs& c) { return "fingerprint = " + c.expired().fingerprint; }, false,
     two_listed, ""},
    {"starttls", "starttls", tls_server(&Certs::good, TlsStart::on_stls), keys(""), true,
     two_listed, ""},
    // The login goes ahead with PIPELINING: a refusal is still read as one.
    {"user_refused_with_the_login_sent_ahead", "tls",
     [](ScriptedPop3Server& s, const Certs& c) {
       tls_server(&Certs::good)(s, c);
       s.set_login("bob", "secret");
     },
     keys(""), true, "Unknown User", "refused the user name"},
    {"password_refused_with_the_login_sent_ahead", "tls",
     [](ScriptedPop3Server& s, const Certs& c) {
       tls_server(&Certs::good)(s, c);
       s.set_login("alice", "other");
     },
     keys(""), true, "Wrong Password", "refused the password"},
    {"starttls_pinned", "starttls", tls_server(&Certs::self_signed, TlsStart::on_stls),
     [](const Certs& c) { return "fingerprint = " + c.self_signed().fingerprint; }, false,
     two_listed, ""},
};

TEST_F(Tls, WhomToTrust) {
  pop3_handshake_timeout_ms = 300;
  for (const TrustCase& c : trust_cases) {
    SCOPED_TRACE(c.name);
    const TrustStore store(c.ca_in_store ? certs->ca() : certs->empty_store());
    ScriptedPop3Server server{two_messages};
    c.serve(server, *certs);
    const bool tls = std::string(c.security) == "tls";
    ASSERT_TRUE(server.start("127.0.0.1", tls ? 995 : 110)) << server.error();
    account("security = " + std::string(c.security) + "\n" + c.keys(*certs));
    check();
    EXPECT_EQ(wyke_header, c.shown);
    if (c.connects)
      EXPECT_TRUE(server.wait_for_sessions(1, bounded));
    else
      EXPECT_EQ(server.sessions_ended(), 0) << "the trust store is read before connecting";
    const Lines log = server.log();
    if (c.shown == "Error") {
      EXPECT_FALSE(sent_credentials(log)) << testing::PrintToString(log);
      EXPECT_NE(report_reason().find(c.because), std::string::npos) << report_reason();
      EXPECT_TRUE(printable_ascii(report_reason())) << report_reason();
      if (report_reason().find("the certificate of") != std::string::npos) {
        EXPECT_NE(report_reason().find("its SHA-256 fingerprint is "), std::string::npos) << report_reason();
      }
      EXPECT_LE(report_reason().size(), max_reason_length);
    } else if (!c.because.empty()) {
      EXPECT_NE(report_reason().find(c.because), std::string::npos) << report_reason();
    } else {
      EXPECT_EQ(report_reason(), "");
      const Lines login = tls ? Lines{"CAPA", "USER alice", "PASS secret", "STAT"}
                              : Lines{"CAPA", "STLS", "CAPA", "USER alice", "PASS secret", "STAT"};
      ASSERT_GE(log.size(), login.size());
      EXPECT_EQ(Lines(log.begin(), log.begin() + static_cast<long>(login.size())), login);
    }
  }
}

// The fingerprint the user is told of an unknown certificate is the one to
// pin: pasted into the account, the next check goes through.
TEST_F(Tls, TheFingerprintToldIsTheOneToPin) {
  const TrustStore store(certs->empty_store());
  ScriptedPop3Server server{two_messages};
  server.use_tls(TlsStart::immediately, certs->self_signed().certificate, certs->self_signed().key);
  ASSERT_TRUE(server.start("127.0.0.1", 995)) << server.error();
  account("security = tls");
  check();
  const std::string reason = report_reason();
  const std::string::size_type at = reason.find("fingerprint is ");
  ASSERT_NE(at, std::string::npos) << reason;
  const std::string told = reason.substr(at + 15, certs->self_signed().fingerprint.size());
  EXPECT_EQ(told, certs->self_signed().fingerprint);
  account("security = tls\nfingerprint = " + told);
  check();
  EXPECT_EQ(wyke_header, two_listed);
}

// A STLS answer with more glued to it: what came before the handshake is
// dropped, so the glued line is not taken for the answer to CAPA.
TEST_F(Tls, BytesBeforeTheHandshakeAreDropped) {
  const TrustStore store(certs->ca());
  ScriptedPop3Server server{two_messages};
  tls_server(&Certs::good, TlsStart::on_stls)(server, *certs);
  server.set_reply("STLS", "+OK begin TLS\r\n-ERR injected\r\n+OK injected\r\n");
  ASSERT_TRUE(server.start("127.0.0.1", 110)) << server.error();
  account("security = starttls");
  check();
  EXPECT_EQ(wyke_header, two_listed);
}

// --- The listing ----------------------------------------------------------------------

std::vector<std::string> many_messages(int count) {
  std::vector<std::string> out;
  for (int i = 1; i <= count; ++i)
    out.push_back("Subject: message " + std::to_string(i) + "\r\nFrom: f" + std::to_string(i) + "@example.org\r\n");
  return out;
}

TEST_F(Tls, PipelinedAndOneByOneListingsAgree) {
  const TrustStore store(certs->ca());
  // Several refills of the window, and a refused TOP in between.
  const int count = 2 * pop3_pipeline_depth + 5;
  struct Run {
    std::string text;
    Lines log;
    int read_ahead;
  };
  const auto run = [&](bool pipelining) {
    ScriptedPop3Server server{many_messages(count)};
    server.use_tls(TlsStart::immediately, certs->good().certificate, certs->good().key);
    server.set_capabilities(pipelining ? Lines{"TOP", "USER", "PIPELINING"} : Lines{"TOP", "USER"});
    server.set_reply("TOP 70 0", "-ERR gone\r\n");
    EXPECT_TRUE(server.start("127.0.0.1", 995)) << server.error();
    account("security = tls");
    const int lines = check();
    EXPECT_EQ(lines, 2 * (count - 1));
    EXPECT_TRUE(server.wait_for_sessions(1, bounded));
    return Run{wyke_header, server.log(), server.commands_read_ahead()};
  };
  const Run pipelined = run(true);
  const Run one_by_one = run(false);
  EXPECT_EQ(pipelined.text, one_by_one.text);
  EXPECT_EQ(pipelined.log, one_by_one.log);
  EXPECT_GT(pipelined.read_ahead, count / 2) << "the TOPs went out ahead";
  EXPECT_EQ(one_by_one.read_ahead, 0);
  Lines want = {"CAPA", "USER alice", "PASS secret", "STAT"};
  for (int i = 1; i <= count; ++i) want.push_back("TOP " + std::to_string(i) + " 0");
  want.push_back("QUIT");
  EXPECT_EQ(pipelined.log, want);
}

// A secured session wants nothing after QUIT: it goes with the last TOPs
// when the server pipelines, on its own otherwise, and its answer is never
// awaited. The server here never answers it; the receive wait is far above
// the test's bound, so a client waiting for the answer fails the test.
TEST_F(Tls, QuitIsSentAndNotAwaited) {
  const TrustStore store(certs->ca());
  pop3_receive_timeout_ms = 60 * 1000;
  pop3_check_deadline_ms = 120 * 1000;
  struct Case {
    bool pipelining;
    int read_ahead;  // PASS and STAT with USER; TOP 2 and QUIT with TOP 1
  };
  for (const Case& c : {Case{true, 4}, Case{false, 0}}) {
    SCOPED_TRACE(c.pipelining ? "pipelining" : "one by one");
    ScriptedPop3Server server{two_messages};
    server.use_tls(TlsStart::immediately, certs->good().certificate, certs->good().key);
    server.set_capabilities(c.pipelining ? Lines{"TOP", "USER", "PIPELINING"} : Lines{"TOP", "USER"});
    server.go_silent_at(7);  // CAPA, USER, PASS, STAT, TOP 1 0, TOP 2 0, QUIT
    ASSERT_TRUE(server.start("127.0.0.1", 995)) << server.error();
    account("security = tls");
    auto done = std::async(std::launch::async, [&] { return check(); });
    ASSERT_EQ(done.wait_for(bounded), std::future_status::ready) << "the check waited for QUIT's answer";
    EXPECT_EQ(done.get(), 4);
    EXPECT_EQ(wyke_header, two_listed);
    ASSERT_TRUE(server.wait_for_sessions(1, bounded));
    EXPECT_EQ(server.log(), (Lines{"CAPA", "USER alice", "PASS secret", "STAT", "TOP 1 0", "TOP 2 0", "QUIT"}));
    EXPECT_EQ(server.commands_read_ahead(), c.read_ahead);
  }
}

// A listing cut short with answers still on their way ends the session
// rather than reading them as answers to QUIT.
TEST_F(Tls, ListingCutShortWithTopsOnTheirWay) {
  const TrustStore store(certs->ca());
  ScriptedPop3Server server{many_messages(2 * max_refused_in_a_row)};
  server.use_tls(TlsStart::immediately, certs->good().certificate, certs->good().key);
  server.set_capabilities({"PIPELINING"});
  server.set_reply("TOP", "-ERR gone\r\n");
  ASSERT_TRUE(server.start("127.0.0.1", 995)) << server.error();
  account("security = tls");
  EXPECT_EQ(check(), 1);
  EXPECT_EQ(wyke_header, incomplete_text);
  EXPECT_TRUE(server.wait_for_sessions(1, bounded));
  const Lines log = server.log();
  EXPECT_LE(std::count(log.begin(), log.end(), "QUIT"), 1) << "no second QUIT on a session given up";
}

// A new handshake within the session would bring a certificate that no one
// checks: the server may ask, the client declines, and nothing more of the
// session is believed.
TEST_F(Tls, NoSecondHandshakeWithinASession) {
  const TrustStore store(certs->ca());
  ScriptedPop3Server server{two_messages};
  server.use_tls(TlsStart::immediately, certs->good().certificate, certs->good().key);
  server.renegotiate_at(4, certs->self_signed().certificate, certs->self_signed().key);  // at STAT
  ASSERT_TRUE(server.start("127.0.0.1", 995)) << server.error();
  account("security = tls");
  check();
  EXPECT_EQ(wyke_header.find("Lunch"), std::string::npos) << wyke_header;
  EXPECT_TRUE(server.wait_for_sessions(1, bounded));
}

// --- Bounds ------------------------------------------------------------------------------

// A server trickling its answers would hold a check for minutes; the
// deadline ends it, in every mode.
TEST_F(Tls, DeadlineEndsATricklingServer) {
  const TrustStore store(certs->ca());
  pop3_check_deadline_ms = 300;
  for (const char* security : {"none", "tls"}) {
    SCOPED_TRACE(security);
    ScriptedPop3Server server{many_messages(50)};
    if (std::string(security) == "tls")
      server.use_tls(TlsStart::immediately, certs->good().certificate, certs->good().key);
    server.trickle(20ms);
    ASSERT_TRUE(server.start("127.0.0.1", std::string(security) == "tls" ? 995 : 110)) << server.error();
    account(std::string("security = ") + security);
    auto done = std::async(std::launch::async, [&] { return check(); });
    ASSERT_EQ(done.wait_for(bounded), std::future_status::ready) << "the deadline did not end the check";
    done.get();
    EXPECT_EQ(wyke_header, "Error");
    EXPECT_NE(report_reason().find("ran out of time"), std::string::npos) << report_reason();
  }
}

// A server that always has bytes ready never makes the client wait, so the
// deadline must be looked at before each read too, not only in the waits.
TEST_F(Tls, DeadlineEndsReadsOfBytesAlreadyThere) {
  const TrustStore store(certs->ca());
  struct Case {
    const char* security;
    std::unique_ptr<Transport> (*make)(const transport_limits&);
  };
  const Case cases[] = {
      {"none", [](const transport_limits& l) -> std::unique_ptr<Transport> {
         return std::make_unique<SocketTransport>(l);
       }},
      {"tls", make_tls_transport},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.security);
    const bool tls = std::string(c.security) == "tls";
    ScriptedPop3Server server;
    if (tls) server.use_tls(TlsStart::immediately, certs->good().certificate, certs->good().key);
    ASSERT_TRUE(server.start("127.0.0.1", 0)) << server.error();
    transport_limits limits;
    limits.receive_ms = 5000;
    limits.handshake_ms = 5000;
    limits.deadline = check_clock::now() + 1s;
    const std::unique_ptr<Transport> transport = c.make(limits);
    ASSERT_TRUE(transport->connect("localhost", server.port())) << transport->reason();
    if (tls) {
      ASSERT_TRUE(transport->start_tls({"localhost", "", ""})) << transport->reason();
    }
    // The greeting is on its way; once the deadline has passed it is not read.
    while (check_clock::now() <= limits.deadline) std::this_thread::sleep_for(10ms);
    char buffer[64];
    EXPECT_EQ(transport->receive_some(buffer, sizeof buffer), 0u) << "read past the deadline";
    EXPECT_EQ(transport->error(), transport_error::deadline) << transport->reason();
  }
}

// A silent server, or a resolver that does not answer: the cancel ends the
// wait at once either way.
TEST_F(Tls, CancelEndsAHangingCheck) {
  pop3_receive_timeout_ms = 60 * 1000;
  pop3_check_deadline_ms = 120 * 1000;
  ScriptedPop3Server server;
  server.go_silent_at(0);
  ASSERT_TRUE(server.start("127.0.0.1", 110)) << server.error();
  for (const char* host : {"127.0.0.1", "hang.test"}) {
    SCOPED_TRACE(host);
    release_hanging_lookup = false;
    account("", host);
    auto done = std::async(std::launch::async, [&] { return check(); });
    EXPECT_EQ(done.wait_for(200ms), std::future_status::timeout) << "the check waits";
    cancel_network_waits();
    const bool ended = done.wait_for(1s) == std::future_status::ready;
    reset_network_cancel();
    release_hanging_lookup = true;
    ASSERT_TRUE(ended) << "the check outlived the cancel by a second";
    done.get();
    EXPECT_EQ(wyke_header, "Error");
    EXPECT_NE(report_reason().find("cancelled"), std::string::npos) << report_reason();
  }
}

// --- Addresses ----------------------------------------------------------------------

TEST_F(Tls, Ipv6AddressVerifiedAgainstTheCertificate) {
  const TrustStore store(certs->ca());
  ScriptedPop3Server server{two_messages};
  server.use_tls(TlsStart::immediately, certs->good().certificate, certs->good().key);
  if (!server.start("::1", 995)) GTEST_SKIP() << "no IPv6 loopback here: " << server.error();
  account("security = tls", "::1");
  check();
  EXPECT_EQ(wyke_header, two_listed) << report_reason();
  // The same certificate names no other address.
  ScriptedPop3Server elsewhere{two_messages};
  elsewhere.use_tls(TlsStart::immediately, certs->other_host().certificate, certs->other_host().key);
  server.stop();
  ASSERT_TRUE(elsewhere.start("::1", 995)) << elsewhere.error();
  check();
  EXPECT_EQ(wyke_header, "Error");
  EXPECT_NE(report_reason().find("is not issued for ::1"), std::string::npos) << report_reason();
}

// Each address of the host in the resolver's order, until one answers.
TEST_F(Tls, AddressesAreTriedInOrder) {
  for (const char* address : {"::1", "127.0.0.1"}) {
    SCOPED_TRACE(address);
    ScriptedPop3Server server{two_messages};
    if (!server.start(address, 110)) GTEST_SKIP() << "cannot listen on " << address << ": " << server.error();
    account("", "both.test");
    check();
    EXPECT_EQ(wyke_header, two_listed) << report_reason();
  }
}

// --- Reasons of the plain exchange ------------------------------------------------------

TEST_F(Tls, RefusedLoginTellsTheServersOwnWords) {
  struct Case {
    const char* command;
    const char* answer;
    const char* shown;
    const char* because;
  };
  const std::vector<Case> cases = {
      {"USER", "-ERR [AUTH] Plaintext authentication disallowed on non-secure (SSL/TLS) connections.\r\n",
       "Unknown User",
       "localhost refused the user name: \"-ERR [AUTH] Plaintext authentication disallowed on non-secure (SSL/TLS) "
       "connecti...\"; set security = starttls or tls for the account"},
      {"USER", "-ERR no such mailbox\r\n", "Unknown User", "localhost refused the user name: \"-ERR no such mailbox\""},
      {"PASS", "-ERR [AUTH] Authentication failed.\r\n", "Wrong Password",
       "localhost refused the password: \"-ERR [AUTH] Authentication failed.\""},
      {"PASS", "-ERR \x1b[31mred\r\n", "Wrong Password", "refused the password: \"-ERR ?[31mred\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.because);
    ScriptedPop3Server server{two_messages};
    server.set_reply(c.command, c.answer);
    ASSERT_TRUE(server.start("127.0.0.1", 110)) << server.error();
    account("");
    check();
    EXPECT_EQ(wyke_header, c.shown);
    EXPECT_NE(report_reason().find(c.because), std::string::npos) << report_reason();
  }
}

TEST_F(Tls, ConnectionFailuresSayWhy) {
  struct Case {
    std::string host;
    std::string security;
    const char* shown;
    std::string because;
  };
  const std::vector<Case> cases = {
      {"no-such-host.invalid", "none", "Unknown Host", "unknown host no-such-host.invalid"},
      {"", "tls", "Unknown Host", "no host is set"},
      {"127.0.0.1", "none", "Error", "cannot connect to 127.0.0.1 port 110 (127.0.0.1): Connection refused"},
      {"127.0.0.1", "tls", "Error", "cannot connect to 127.0.0.1 port 995 (127.0.0.1): Connection refused"},
      {"127.0.0.1", "starttls\nport = 2110", "Error", "cannot connect to 127.0.0.1 port 2110"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.because);
    account("security = " + c.security, c.host);
    check();
    EXPECT_EQ(wyke_header, c.shown);
    EXPECT_NE(report_reason().find(c.because), std::string::npos) << report_reason();
  }
}

// --debug: the exchange and what the certificate was, never the password.
TEST_F(Tls, DebugLogShowsTheSessionButNotThePassword) {
  const TrustStore store(certs->ca());
  ScriptedPop3Server server{two_messages};
  server.set_login("alice", "Sesame-7f3e");
  server.use_tls(TlsStart::on_stls, certs->good().certificate, certs->good().key);
  server.set_capabilities(stls_capabilities);
  ASSERT_TRUE(server.start("127.0.0.1", 110)) << server.error();
  home.write("Mail/accounts",
             "[account]\nhost = localhost\nuser = alice\npassword = Sesame-7f3e\nsecurity = starttls\n", 0600);
  debug_log_enabled = true;
  testing::internal::CaptureStderr();
  check();
  const std::string said = testing::internal::GetCapturedStderr();
  debug_log_enabled = false;
  EXPECT_EQ(wyke_header, two_listed);
  EXPECT_EQ(said.find("Sesame-7f3e"), std::string::npos) << said;
  for (const std::string& expected :
       {std::string("C: STLS"), std::string("C: PASS ***"), std::string("S: PIPELINING"), std::string("* TLS TLSv1."),
        "certificate SHA-256 fingerprint: " + certs->good().fingerprint, std::string("issuer: CN = Wyke Test CA"),
        std::string("C: TOP 2 0")})
    EXPECT_NE(said.find(expected), std::string::npos) << expected << " in:\n" << said;
}

}  // namespace
