#include "pop3_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <string_view>
#include <utility>

#include "no_sigpipe.h"

namespace wyke_test {

struct ScriptedPop3Server::Script {
  std::vector<std::string> maildrop;  // lines end in CR LF
  std::string user = "alice";
  std::string password = "secret";
  std::string oauth_token = "token";
  bool token_challenge = false;
  std::string greeting = "+OK POP3 server ready\r\n";
  std::map<std::string, std::string> replies;
  std::optional<int> stat_count;
  int silent_at = -1;  // steps; -1 is never
  int close_after = -1;
  int cut_at = -1;
  std::size_t cut_keep = 0;
  int huge_at = -1;
  std::size_t huge_extra = 0;
  std::size_t huge_line = 0;
  int flood_at = -1;
  std::string flood_line;
  std::size_t flood_times = 0;
  bool trickle = false;
  std::chrono::microseconds trickle_gap{0};
  std::optional<std::vector<std::string>> capabilities;
  bool tls = false;
  TlsStart tls_start = TlsStart::immediately;
  std::string certificate_file, key_file;
  bool tls10_only = false;
  int renegotiate_at = -1;
  std::string renegotiate_certificate_file, renegotiate_key_file;
};

namespace {

constexpr std::size_t filler_chunk = 64 * 1024;
// A client line longer than this without LF is taken as a line, so a
// runaway client cannot grow the server's memory.
constexpr std::size_t max_command_line = 1 << 20;

std::string with_crlf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
}

// The lines of `text` (CR LF ends), at most `limit` of them, dot-stuffed.
void append_stuffed(std::string& out, std::string_view text, std::size_t limit) {
  for (std::size_t n = 0; !text.empty() && n < limit; ++n) {
    const std::string_view::size_type end = text.find("\r\n");
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 2);
    if (!line.empty() && line[0] == '.') out += '.';
    out.append(line);
    out += "\r\n";
  }
}

std::string top_reply(const std::string& message, std::size_t body_lines) {
  const std::string_view all(message);
  const std::string_view::size_type blank = all.find("\r\n\r\n");
  const std::string_view header = blank == std::string_view::npos ? all : all.substr(0, blank + 2);
  const std::string_view body = blank == std::string_view::npos ? std::string_view() : all.substr(blank + 4);
  std::string out = "+OK\r\n";
  append_stuffed(out, header, std::string_view::npos);
  out += "\r\n";
  append_stuffed(out, body, body_lines);
  out += ".\r\n";
  return out;
}

// A decimal number of at most nine digits, nothing else.
std::optional<std::size_t> number(std::string_view word) {
  if (word.empty() || word.size() > 9 || word.find_first_not_of("0123456789") != std::string_view::npos)
    return std::nullopt;
  std::size_t value = 0;
  for (const char c : word) value = value * 10 + static_cast<std::size_t>(c - '0');
  return value;
}

std::string upper(std::string_view word) {
  std::string out(word);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// Where line `line` (0 is the first) of `text` ends, before its CR LF; the
// end of `text` when it has fewer lines.
std::size_t line_end(std::string_view text, std::size_t line) {
  std::size_t begin = 0;
  for (std::size_t n = 0; n < line; ++n) {
    const std::string_view::size_type crlf = text.find("\r\n", begin);
    if (crlf == std::string_view::npos) return text.size();
    begin = crlf + 2;
  }
  return std::min(text.find("\r\n", begin), text.size());
}

// The line as the log shows it: without its CR LF, anything else kept.
std::string log_form(const std::string& line) {
  if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) return line.substr(0, line.size() - 2);
  return line;
}

// The line as the server reads it: without LF or CR LF.
std::string command_form(std::string line) {
  if (!line.empty() && line.back() == '\n') line.pop_back();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// Base64 with padding (RFC 4648), written here again so that the server
// checks the client against an encoder of its own.
std::string base64(std::string_view bytes) {
  static constexpr char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(bytes[i + k]); };
    out += digits[b(0) >> 2];
    out += digits[(b(0) & 3) << 4 | b(1) >> 4];
    out += digits[(b(1) & 15) << 2 | b(2) >> 6];
    out += digits[b(2) & 63];
  }
  if (i < bytes.size()) {
    const unsigned first = static_cast<unsigned char>(bytes[i]);
    const unsigned second = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
    out += digits[first >> 2];
    out += digits[(first & 3) << 4 | second >> 4];
    out += i + 1 < bytes.size() ? digits[(second & 15) << 2] : '=';
    out += '=';
  }
  return out;
}

}  // namespace

// --- One session ---------------------------------------------------------------

class ScriptedPop3Server::Session {
 public:
  Session(ScriptedPop3Server& server, int fd, std::size_t index)
      : server_(server), script_(server.snapshot()), fd_(fd), index_(index) {}
  ~Session() {
    SSL_free(ssl_);
    SSL_CTX_free(ctx_);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  void run() {
    int step = 0;
    if (script_->tls && script_->tls_start == TlsStart::immediately && !handshake()) return;
    if (!send_reply(step, script_->greeting)) return;
    std::string line;
    for (;;) {
      if (input_.find('\n') != std::string::npos) server_.count_read_ahead();
      if (!read_line(line)) return;
      server_.record(index_, log_form(line));
      const std::string reply = answer(command_form(line));
      if (step + 1 == script_->renegotiate_at && ssl_ != nullptr && !renegotiate()) return;
      if (!send_reply(++step, reply)) return;
      if (quit_) return drain();
      if (std::exchange(stls_accepted_, false) && reply.starts_with("+OK")) {
        // Whatever the client sent before its handshake is not its word.
        input_.clear();
        if (!handshake()) return;
      }
    }
  }

 private:
  bool handshake() {
    const Script& script = *script_;
    ctx_ = SSL_CTX_new(TLS_server_method());
    if (ctx_ == nullptr) return false;
    if (script.tls10_only &&
        (SSL_CTX_set_min_proto_version(ctx_, TLS1_VERSION) != 1 ||
         SSL_CTX_set_max_proto_version(ctx_, TLS1_VERSION) != 1 ||
         SSL_CTX_set_cipher_list(ctx_, "DEFAULT:@SECLEVEL=0") != 1))
      return false;
    // Only TLS 1.2 has a new handshake within a session.
    if (script.renegotiate_at >= 0 && SSL_CTX_set_max_proto_version(ctx_, TLS1_2_VERSION) != 1) return false;
    if (SSL_CTX_use_certificate_chain_file(ctx_, script.certificate_file.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx_, script.key_file.c_str(), SSL_FILETYPE_PEM) != 1)
      return false;
    ssl_ = SSL_new(ctx_);
    if (ssl_ == nullptr || SSL_set_fd(ssl_, fd_) != 1) return false;
    for (;;) {
      ERR_clear_error();
      const NoSigpipe guard;
      const int result = SSL_accept(ssl_);
      if (result == 1) return true;
      if (!wait_for_tls(SSL_get_error(ssl_, result))) return false;
    }
  }

  // Shows the other certificate and asks for a new handshake; the client's
  // answer is read with its next command.
  bool renegotiate() {
    const Script& script = *script_;
    if (SSL_use_certificate_chain_file(ssl_, script.renegotiate_certificate_file.c_str()) != 1 ||
        SSL_use_PrivateKey_file(ssl_, script.renegotiate_key_file.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_renegotiate(ssl_) != 1)
      return false;
    for (;;) {
      ERR_clear_error();
      const NoSigpipe guard;
      const int result = SSL_do_handshake(ssl_);
      if (result == 1) return true;
      if (!wait_for_tls(SSL_get_error(ssl_, result))) return false;
    }
  }

  // After a TLS call that did not finish: waits for what it wants; false when
  // it failed instead, or on stop().
  bool wait_for_tls(int error) {
    if (error == SSL_ERROR_WANT_READ) return wait(POLLIN);
    if (error == SSL_ERROR_WANT_WRITE) return wait(POLLOUT);
    return false;
  }

  // Bytes received: more than 0, 0 at the end of the stream (or a failure),
  // -1 on stop().
  ssize_t receive(char* buffer, std::size_t room) {
    for (;;) {
      if (ssl_ != nullptr) {
        ERR_clear_error();
        std::size_t got = 0;
        const NoSigpipe guard;
        const int result = SSL_read_ex(ssl_, buffer, room, &got);
        if (result == 1) return static_cast<ssize_t>(got);
        const int error = SSL_get_error(ssl_, result);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) return 0;
        if (!wait_for_tls(error)) return -1;
        continue;
      }
      const ssize_t n = recv(fd_, buffer, room, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (!wait(POLLIN)) return -1;
        continue;
      }
      return std::max<ssize_t>(n, 0);
    }
  }

  // Waits until the socket is ready for `events`, or until the pause has
  // passed (`pause` set), whichever the caller asked; false on stop().
  bool wait(short events, const timespec* pause = nullptr) {
    for (;;) {
      pollfd fds[2] = {{fd_, events, 0}, {server_.wake_[0], POLLIN, 0}};
      const int n = ppoll(pause != nullptr ? fds + 1 : fds, pause != nullptr ? 1 : 2, pause, nullptr);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return false;
      return fds[1].revents == 0;
    }
  }

  bool pause(std::chrono::microseconds gap) {
    const timespec span{static_cast<time_t>(gap.count() / 1000000), static_cast<long>(gap.count() % 1000000) * 1000};
    return wait(0, &span);
  }

  bool read_line(std::string& line) {
    for (;;) {
      const std::string::size_type lf = input_.find('\n');
      if (lf != std::string::npos || input_.size() >= max_command_line) {
        const std::size_t length = lf != std::string::npos ? lf + 1 : input_.size();
        line = input_.substr(0, length);
        input_.erase(0, length);
        return true;
      }
      char chunk[4096];
      const ssize_t n = receive(chunk, sizeof chunk);
      if (n < 0) return false;
      if (n == 0) {
        // A line the client left unfinished still shows in the log.
        line = std::move(input_);
        input_.clear();
        return !line.empty();
      }
      input_.append(chunk, static_cast<std::size_t>(n));
    }
  }

  bool send_some(const char* bytes, std::size_t length) {
    while (ssl_ != nullptr && length > 0) {
      ERR_clear_error();
      std::size_t written = 0;
      const NoSigpipe guard;
      const int result = SSL_write_ex(ssl_, bytes, length, &written);
      if (result != 1 && !wait_for_tls(SSL_get_error(ssl_, result))) return false;
      bytes += written;
      length -= written;
    }
    while (length > 0) {
      const ssize_t n = send(fd_, bytes, length, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (!wait(POLLOUT)) return false;
        continue;
      }
      if (n <= 0) return false;
      bytes += n;
      length -= static_cast<std::size_t>(n);
    }
    return true;
  }

  bool send_bytes(std::string_view bytes) {
    if (!script_->trickle) return send_some(bytes.data(), bytes.size());
    for (const char byte : bytes)
      if (!pause(script_->trickle_gap) || !send_some(&byte, 1)) return false;
    return true;
  }

  // Sends `piece` `times` times, a chunk of copies at a time.
  bool send_repeated(const std::string& piece, std::size_t times) {
    if (piece.empty()) return true;
    const std::size_t per_chunk = std::max<std::size_t>(1, filler_chunk / piece.size());
    std::string chunk;
    for (std::size_t i = 0; i < std::min(per_chunk, times); ++i) chunk += piece;
    for (std::size_t left = times; left > 0;) {
      const std::size_t n = std::min(left, per_chunk);
      if (!send_bytes(std::string_view(chunk.data(), n * piece.size()))) return false;
      left -= n;
    }
    return true;
  }

  // `reply` with `piece` sent `times` times at byte `at` of it.
  bool send_stretched(std::string_view reply, std::size_t at, const std::string& piece, std::size_t times) {
    return send_bytes(reply.substr(0, at)) && send_repeated(piece, times) && send_bytes(reply.substr(at));
  }

  // False when the session ends here.
  bool send_reply(int step, std::string_view reply) {
    const Script& script = *script_;
    if (script.silent_at >= 0 && step >= script.silent_at) return true;
    if (step == script.cut_at) {
      send_bytes(reply.substr(0, script.cut_keep));
      return false;
    }
    bool sent;
    if (step == script.huge_at)
      sent = send_stretched(reply, line_end(reply, script.huge_line), "x", script.huge_extra);
    else if (step == script.flood_at)
      sent = send_stretched(reply, std::min(line_end(reply, 0) + 2, reply.size()), script.flood_line,
                            script.flood_times);
    else
      sent = send_bytes(reply);
    return sent && step != script.close_after;
  }

  // After QUIT: the server's side is closed, but whatever the client still
  // sends is logged until it closes too.
  void drain() {
    if (ssl_ != nullptr) {
      const NoSigpipe guard;
      SSL_shutdown(ssl_);
    }
    shutdown(fd_, SHUT_WR);
    std::string line;
    while (read_line(line)) server_.record(index_, log_form(line));
  }

  std::string answer(const std::string& command) {
    if (sasl_ != sasl_step::none) return sasl_continue(command);
    const std::string::size_type blank = command.find(' ');
    const std::string verb = upper(std::string_view(command).substr(0, blank));
    const std::string argument = blank == std::string::npos ? std::string() : command.substr(blank + 1);
    // The usual answer moves the session's state even when a scripted one is sent.
    std::string reply = usual_answer(verb, argument);
    auto scripted = script_->replies.find(command);
    if (scripted == script_->replies.end()) scripted = script_->replies.find(verb);
    return scripted != script_->replies.end() ? scripted->second : reply;
  }

  // AUTH XOAUTH2: the initial response on the command line, or a "+ " for it.
  std::string authenticate(const std::string& argument) {
    if (logged_in_) return "-ERR already logged in\r\n";
    const std::string::size_type blank = argument.find(' ');
    if (upper(std::string_view(argument).substr(0, blank)) != "XOAUTH2") return "-ERR unsupported mechanism\r\n";
    if (blank != std::string::npos) return sasl_response(argument.substr(blank + 1));
    sasl_ = sasl_step::response;
    return "+ \r\n";
  }

  std::string sasl_response(const std::string& line) {
    const Script& script = *script_;
    sasl_ = sasl_step::none;
    if (line == "*") return "-ERR authentication cancelled\r\n";
    const std::string wanted = "user=" + script.user + "\x01" "auth=Bearer " + script.oauth_token + "\x01\x01";
    logged_in_ = line == base64(wanted);
    if (logged_in_) return "+OK signed in\r\n";
    if (!script.token_challenge) return "-ERR [AUTH] invalid token\r\n";
    sasl_ = sasl_step::after_challenge;
    return "+ " + base64(R"({"status":"401","schemes":"bearer","scope":"https://mail.example.org/"})") + "\r\n";
  }

  // A line of a SASL exchange under way, taken as it came.
  std::string sasl_continue(const std::string& line) {
    if (sasl_ == sasl_step::response) return sasl_response(line);
    sasl_ = sasl_step::none;
    return "-ERR [AUTH] authentication failed\r\n";
  }

  std::string usual_answer(const std::string& verb, const std::string& argument) {
    const Script& script = *script_;
    if (verb == "AUTH") return authenticate(argument);
    if (verb == "QUIT") {
      quit_ = true;
      return "+OK bye\r\n";
    }
    if (verb == "USER") {
      if (logged_in_) return "-ERR already logged in\r\n";
      named_ = argument == script.user;
      return named_ ? "+OK send PASS\r\n" : "-ERR no such mailbox\r\n";
    }
    if (verb == "CAPA" && script.capabilities) {
      std::string out = "+OK capability list follows\r\n";
      for (const std::string& line : *script.capabilities) out += line + "\r\n";
      return out + ".\r\n";
    }
    if (verb == "STLS") {
      if (!script.tls || script.tls_start != TlsStart::on_stls || ssl_ != nullptr) return "-ERR no STLS here\r\n";
      stls_accepted_ = true;
      return "+OK begin TLS\r\n";
    }
    if (verb == "PASS") {
      if (logged_in_ || !named_) return "-ERR USER first\r\n";
      named_ = false;
      logged_in_ = argument == script.password;
      return logged_in_ ? "+OK maildrop ready\r\n" : "-ERR invalid password\r\n";
    }
    if (!logged_in_) return "-ERR not logged in\r\n";
    if (verb == "NOOP") return "+OK\r\n";
    if (verb == "STAT") return stat();
    if (verb == "LIST") return list();
    if (verb == "TOP") return top(argument);
    return "-ERR unknown command\r\n";
  }

  std::size_t octets() const {
    std::size_t total = 0;
    for (const std::string& message : script_->maildrop) total += message.size();
    return total;
  }

  std::string stat() const {
    const std::size_t real = script_->maildrop.size();
    const std::string count = script_->stat_count ? std::to_string(*script_->stat_count) : std::to_string(real);
    return "+OK " + count + " " + std::to_string(octets()) + "\r\n";
  }

  std::string list() const {
    const std::vector<std::string>& maildrop = script_->maildrop;
    std::string out = "+OK " + std::to_string(maildrop.size()) + " messages (" + std::to_string(octets()) +
                      " octets)\r\n";
    for (std::size_t i = 0; i < maildrop.size(); ++i)
      out += std::to_string(i + 1) + " " + std::to_string(maildrop[i].size()) + "\r\n";
    return out + ".\r\n";
  }

  std::string top(const std::string& argument) const {
    const std::string::size_type blank = argument.find(' ');
    const std::optional<std::size_t> which = number(std::string_view(argument).substr(0, blank));
    const std::optional<std::size_t> lines =
        blank == std::string::npos ? std::nullopt : number(std::string_view(argument).substr(blank + 1));
    if (!which || !lines) return "-ERR usage: TOP msg n\r\n";
    if (*which < 1 || *which > script_->maildrop.size()) return "-ERR no such message\r\n";
    return top_reply(script_->maildrop[*which - 1], *lines);
  }

  ScriptedPop3Server& server_;
  const std::shared_ptr<const Script> script_;
  const int fd_;
  const std::size_t index_;
  std::string input_;
  SSL_CTX* ctx_ = nullptr;
  SSL* ssl_ = nullptr;
  bool stls_accepted_ = false;
  bool named_ = false;
  bool logged_in_ = false;
  // Where a SASL exchange stands: a line awaited is no command.
  enum class sasl_step { none, response, after_challenge } sasl_ = sasl_step::none;
  bool quit_ = false;
};

// --- The server ----------------------------------------------------------------

ScriptedPop3Server::ScriptedPop3Server(std::vector<std::string> maildrop)
    : script_(std::make_shared<const Script>()) {
  set_maildrop(std::move(maildrop));
}

ScriptedPop3Server::~ScriptedPop3Server() { stop(); }

template <class Change>
void ScriptedPop3Server::edit(Change change) {
  const std::lock_guard<std::mutex> guard(mutex_);
  auto next = std::make_shared<Script>(*script_);
  change(*next);
  script_ = std::move(next);
}

std::shared_ptr<const ScriptedPop3Server::Script> ScriptedPop3Server::snapshot() const {
  const std::lock_guard<std::mutex> guard(mutex_);
  return script_;
}

void ScriptedPop3Server::set_maildrop(std::vector<std::string> maildrop) {
  for (std::string& message : maildrop) message = with_crlf(message);
  edit([&](Script& s) { s.maildrop = std::move(maildrop); });
}

void ScriptedPop3Server::set_login(std::string user, std::string password) {
  edit([&](Script& s) {
    s.user = std::move(user);
    s.password = std::move(password);
  });
}

void ScriptedPop3Server::set_oauth_token(std::string token) {
  edit([&](Script& s) { s.oauth_token = std::move(token); });
}

void ScriptedPop3Server::refuse_token_with_challenge(bool challenge) {
  edit([&](Script& s) { s.token_challenge = challenge; });
}

void ScriptedPop3Server::set_greeting(std::string bytes) {
  edit([&](Script& s) { s.greeting = std::move(bytes); });
}

void ScriptedPop3Server::set_reply(std::string command, std::string bytes) {
  edit([&](Script& s) { s.replies[std::move(command)] = std::move(bytes); });
}

void ScriptedPop3Server::set_stat_count(int count) {
  edit([&](Script& s) { s.stat_count = count; });
}

void ScriptedPop3Server::set_capabilities(std::vector<std::string> lines) {
  edit([&](Script& s) { s.capabilities = std::move(lines); });
}

void ScriptedPop3Server::use_tls(TlsStart start, std::string certificate_file, std::string key_file,
                                 bool tls10_only) {
  edit([&](Script& s) {
    s.tls = true;
    s.tls_start = start;
    s.certificate_file = std::move(certificate_file);
    s.key_file = std::move(key_file);
    s.tls10_only = tls10_only;
  });
}

void ScriptedPop3Server::renegotiate_at(int step, std::string certificate_file, std::string key_file) {
  edit([&](Script& s) {
    s.renegotiate_at = step;
    s.renegotiate_certificate_file = std::move(certificate_file);
    s.renegotiate_key_file = std::move(key_file);
  });
}

void ScriptedPop3Server::go_silent_at(int step) {
  edit([&](Script& s) { s.silent_at = step; });
}

void ScriptedPop3Server::close_after(int step) {
  edit([&](Script& s) { s.close_after = step; });
}

void ScriptedPop3Server::cut_reply(int step, std::size_t keep) {
  edit([&](Script& s) {
    s.cut_at = step;
    s.cut_keep = keep;
  });
}

void ScriptedPop3Server::huge_line_at(int step, std::size_t extra, std::size_t line) {
  edit([&](Script& s) {
    s.huge_at = step;
    s.huge_extra = extra;
    s.huge_line = line;
  });
}

void ScriptedPop3Server::flood_at(int step, std::string line, std::size_t times) {
  edit([&](Script& s) {
    s.flood_at = step;
    s.flood_line = std::move(line);
    s.flood_times = times;
  });
}

void ScriptedPop3Server::trickle(std::chrono::microseconds gap) {
  edit([&](Script& s) {
    s.trickle = true;
    s.trickle_gap = gap;
  });
}

bool ScriptedPop3Server::start(const std::string& address, std::uint16_t port) {
  if (thread_.joinable()) {
    error_ = "already running";
    return false;
  }
  const auto fail = [this](const std::string& what) {
    error_ = what + ": " + std::strerror(errno);
    for (int* fd : {&listen_fd_, &wake_[0], &wake_[1]})
      if (*fd >= 0) close(std::exchange(*fd, -1));
    return false;
  };
  // An IPv4 or an IPv6 address, as its text says.
  sockaddr_storage at{};
  socklen_t length = 0;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&at);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&at);
  if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    length = sizeof *v4;
  } else if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    length = sizeof *v6;
  } else {
    errno = EINVAL;
    return fail("not an IP address: " + address);
  }
  if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) return fail("pipe");
  listen_fd_ = socket(at.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) return fail("socket");
  const int on = 1;
  setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (bind(listen_fd_, reinterpret_cast<const sockaddr*>(&at), length) != 0)
    return fail("bind " + address + ":" + std::to_string(port));
  if (listen(listen_fd_, 16) != 0) return fail("listen");
  if (getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&at), &length) != 0) return fail("getsockname");
  port_ = ntohs(at.ss_family == AF_INET ? v4->sin_port : v6->sin6_port);
  error_.clear();
  thread_ = std::thread(&ScriptedPop3Server::serve, this);
  return true;
}

void ScriptedPop3Server::stop() {
  if (!thread_.joinable()) return;
  const char byte = 0;
  while (write(wake_[1], &byte, 1) < 0 && errno == EINTR) {
  }
  thread_.join();
  for (int* fd : {&listen_fd_, &wake_[0], &wake_[1]}) close(std::exchange(*fd, -1));
}

void ScriptedPop3Server::serve() {
  for (;;) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    const int n = poll(fds, 2, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || fds[1].revents != 0) return;
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) continue;
    // Trickled bytes must leave one by one.
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::size_t index;
    {
      const std::lock_guard<std::mutex> guard(mutex_);
      index = logs_.size();
      logs_.emplace_back();
    }
    Session(*this, fd, index).run();
    close(fd);
    session_ended();
  }
}

void ScriptedPop3Server::record(std::size_t session, std::string line) {
  const std::lock_guard<std::mutex> guard(mutex_);
  logs_[session].push_back(std::move(line));
  changed_.notify_all();
}

void ScriptedPop3Server::session_ended() {
  const std::lock_guard<std::mutex> guard(mutex_);
  ++ended_;
  changed_.notify_all();
}

std::vector<std::string> ScriptedPop3Server::log() const {
  const std::lock_guard<std::mutex> guard(mutex_);
  std::vector<std::string> all;
  for (const auto& session : logs_) all.insert(all.end(), session.begin(), session.end());
  return all;
}

std::vector<std::string> ScriptedPop3Server::session_log(std::size_t session) const {
  const std::lock_guard<std::mutex> guard(mutex_);
  return session < logs_.size() ? logs_[session] : std::vector<std::string>();
}

void ScriptedPop3Server::count_read_ahead() {
  const std::lock_guard<std::mutex> guard(mutex_);
  ++read_ahead_;
}

int ScriptedPop3Server::commands_read_ahead() const {
  const std::lock_guard<std::mutex> guard(mutex_);
  return read_ahead_;
}

int ScriptedPop3Server::sessions_ended() const {
  const std::lock_guard<std::mutex> guard(mutex_);
  return ended_;
}

bool ScriptedPop3Server::wait_for_sessions(int count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return ended_ >= count; });
}

bool ScriptedPop3Server::wait_for_log_lines(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    std::size_t lines = 0;
    for (const auto& session : logs_) lines += session.size();
    return lines >= count;
  });
}

}  // namespace wyke_test
