// A real Dovecot POP3 and IMAP server started by a test: its own configuration,
// certificates, maildrop, sockets, state and log in a temporary folder, run
// as the test's own user inside the test's private network, never touching
// the system's Dovecot configuration or service.
//
// It listens on test_host_address (netns.h) under test_host_name, on port
// 110 and 143 (STARTTLS offered) and 995 and 993 (TLS from the first byte), with
// `ssl = required` and `disable_plaintext_auth = yes`: a client on another
// address (the tests' 127.0.0.1) may log in only over TLS, as on a stock
// server reached over a network.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace wyke_test {

class DovecotServer {
 public:
  static constexpr const char* user = "alice";
  static constexpr const char* password = "secret";
  static constexpr std::uint16_t starttls_port = 110;
  static constexpr std::uint16_t tls_port = 995;
  static constexpr std::uint16_t imap_starttls_port = 143;
  static constexpr std::uint16_t imap_tls_port = 993;

  // `maildrop`: the messages in the order the server lists them, lines
  // ending in CR LF or LF.
  explicit DovecotServer(std::vector<std::string> maildrop);
  ~DovecotServer();
  DovecotServer(const DovecotServer&) = delete;
  DovecotServer& operator=(const DovecotServer&) = delete;

  // Why Dovecot cannot run here (no dovecot or openssl command, no private
  // network or hosts file), or "" when it can: the tests skip with it.
  static std::string unavailable();

  // Also listens on 127.0.0.1, where a client on the same address counts as
  // secure and may log in in plain text. Before start(); for comparisons of
  // plain and TLS sessions with one server.
  void also_listen_on_client_address() { plain_loopback_ = true; }

  // Message `i` of the maildrop has been read (\Seen). Before start().
  void mark_seen(std::size_t i) { seen_.push_back(i); }

  // Writes everything and starts `dovecot -F`, waiting (bounded) until every
  // port accepts. False with the reason and the log in error().
  bool start();
  // Ends the server by its process id, bounded; the destructor calls it.
  void stop();
  // Starts the stopped server again on the same files and maildir.
  bool restart();

  // Delivers a message as a mail server does: written into tmp/, then
  // renamed into new/; into the mailbox `folder` (made when missing) when
  // one is named, else into INBOX.
  void deliver(const std::string& message, const std::string& name, const std::string& folder = "");
  // Every message file of the maildir, as its unique part and its flags
  // ("S" for \Seen; "" for none and for a file still in new/).
  std::map<std::string, std::string> flags() const;

  const std::string& error() const { return error_; }
  // The throw-away CA that signed the server's certificate (PEM), made by
  // the openssl command at start(): what a client trusts.
  std::string ca_file() const { return dir_ + "/ca.crt"; }
  // The SHA-256 fingerprint of the server's certificate as
  // `openssl x509 -fingerprint -sha256` prints it ("AB:CD:...").
  const std::string& fingerprint() const { return fingerprint_; }
  // What the server logged so far: logins, refusals, errors.
  std::string log() const;

 private:
  bool write_files();
  bool make_certificates();
  bool wait_until_listening();
  bool launch();

  std::vector<std::string> maildrop_;
  std::vector<std::size_t> seen_;
  bool plain_loopback_ = false;
  std::string dir_;
  std::string error_;
  std::string fingerprint_;
  pid_t pid_ = -1;
};

}  // namespace wyke_test
