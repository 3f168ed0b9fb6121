// A scripted POP3 server on a thread of its own, for the tests, the
// benchmarks and the demo: it serves a maildrop to one client at a time,
// answers as the script says, breaks the session where a fault says, and
// logs every command line it receives.
//
// Only the C++ standard library, POSIX and OpenSSL: tools build this file
// alone.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace wyke_test {

class ScriptedPop3Server {
 public:
  // Each message is its raw text: header lines, then optionally a blank
  // line and a body. Lines may end in LF or CR LF; they are served with
  // CR LF, and their sizes in STAT and LIST count that form.
  explicit ScriptedPop3Server(std::vector<std::string> maildrop = {});
  ~ScriptedPop3Server();  // stop()
  ScriptedPop3Server(const ScriptedPop3Server&) = delete;
  ScriptedPop3Server& operator=(const ScriptedPop3Server&) = delete;

  // --- The script. A change applies from the next session on. ---

  void set_maildrop(std::vector<std::string> maildrop);
  // The only login USER and PASS accept; "alice" and "secret" by default.
  void set_login(std::string user, std::string password);
  // The access token AUTH XOAUTH2 accepts (RFC 5034, with or without an
  // initial response) for the login's user; "token" by default. Only the
  // exact SASL string "user=USER^Aauth=Bearer TOKEN^A^A" in base64 signs in.
  void set_oauth_token(std::string token);
  // A refused token gets -ERR at once by default; with `challenge`, first a
  // "+ " line holding a base64 JSON error (status 401), as large providers
  // answer, and the -ERR after the client's empty line.
  void refuse_token_with_challenge(bool challenge);
  // Sent on connecting, as is; "+OK POP3 server ready\r\n" by default.
  void set_greeting(std::string bytes);
  // Bytes sent as is instead of the usual answer to `command`: either a whole
  // command line ("TOP 2 0") or its first word ("TOP"), the whole line first.
  // The session's state moves as it would for the usual answer.
  void set_reply(std::string command, std::string bytes);
  // STAT reports this many messages whatever the maildrop holds; TOP and
  // LIST still know only the real ones.
  void set_stat_count(int count);
  // The lines CAPA answers with (without CR LF), at any time of the session.
  // Until set, CAPA is an unknown command.
  void set_capabilities(std::vector<std::string> lines);

  // --- TLS ---

  enum class TlsStart {
    immediately,  // the handshake comes first, then the greeting
    on_stls,      // STLS is answered "+OK" and the handshake follows
  };
  // Serves TLS with this certificate and key (PEM files). `tls10_only` makes
  // a server of the past that speaks TLS 1.0 and nothing later. A handshake
  // that fails ends the session.
  void use_tls(TlsStart start, std::string certificate_file, std::string key_file, bool tls10_only = false);

  // --- Faults. A step numbers the replies of a session: 0 is the greeting,
  // n the reply to the n-th command line. ---

  // From this step on nothing is sent; command lines are still logged.
  void go_silent_at(int step);
  // The connection is closed once the reply of this step has gone.
  void close_after(int step);
  // Only the first `keep` bytes of this step's reply go, then the close.
  void cut_reply(int step, std::size_t keep);
  // Line `line` of this step's reply (0: its status line) is lengthened by
  // `extra` filler bytes before its CR LF (streamed: `extra` may be far above
  // memory).
  void huge_line_at(int step, std::size_t extra, std::size_t line = 0);
  // After the status line of this step's reply, `line` (with its CR LF) goes
  // `times` times before the rest of the reply (streamed as well).
  void flood_at(int step, std::string line, std::size_t times);
  // Every reply goes out one byte per send, `gap` apart.
  void trickle(std::chrono::microseconds gap);

  // --- Running ---

  // Listens on address:port (port 0: any free port, see port()) and serves
  // sessions one after another on a thread until stop(). False, with the
  // reason in error(), when it cannot listen or already runs.
  bool start(const std::string& address = "127.0.0.1", std::uint16_t port = 110);
  // Ends the current session, if any, and the thread; returns promptly.
  void stop();
  std::uint16_t port() const { return port_; }
  const std::string& error() const { return error_; }

  // --- What it saw (safe from any thread) ---

  // Every command line received, in order, without its CR LF; a line that
  // ended in a bare LF keeps it ("STAT\n"), one cut by a close is as it came.
  std::vector<std::string> log() const;
  // The same for one session (0 is the first), empty when there is none.
  std::vector<std::string> session_log(std::size_t session) const;
  // Sessions whose connection has been closed by either side.
  int sessions_ended() const;
  // Command lines that had arrived before the answer to the one before them
  // was sent: a client that pipelines them makes this grow.
  int commands_read_ahead() const;
  // Bounded waits: true once the condition holds, false after `timeout`.
  bool wait_for_sessions(int count, std::chrono::milliseconds timeout) const;
  bool wait_for_log_lines(std::size_t count, std::chrono::milliseconds timeout) const;

 private:
  struct Script;
  class Session;
  friend class Session;

  std::shared_ptr<const Script> snapshot() const;
  template <class Change>
  void edit(Change change);
  void serve();
  void record(std::size_t session, std::string line);
  void session_ended();
  void count_read_ahead();

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::shared_ptr<const Script> script_;
  std::vector<std::vector<std::string>> logs_;
  int ended_ = 0;
  int read_ahead_ = 0;

  int listen_fd_ = -1;
  int wake_[2] = {-1, -1};  // a byte in the pipe tells the thread to stop
  std::uint16_t port_ = 0;
  std::string error_;
  std::thread thread_;
};

}  // namespace wyke_test
