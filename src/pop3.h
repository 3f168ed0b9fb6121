// One POP3 session over a transport (platform/transport.h): login, message
// count, header lines, quit.
//
// The account's security decides the exchange. `none` is plain text:
// greeting, USER, PASS, then the caller's commands one at a time. `tls`
// (TLS from the first byte) and `starttls` (greeting, CAPA, STLS, TLS, CAPA
// again) add CAPA and, when the server announces PIPELINING, send USER, PASS
// and STAT in one write and the TOPs of a listing ahead in a bounded window,
// QUIT with the last of them; they close once QUIT is sent. Nothing is sent
// in plain text once TLS was asked for, and no credential before the
// server's certificate passed.
//
// The mail check makes one object per check on the notifier window's thread
// and uses it from that thread alone; every call blocks until the server has
// answered, a time-out or the check's deadline has passed, or the network
// waits are cancelled.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/mail_settings.h"
#include "platform/secret_in.h"
#include "platform/transport.h"
#include "platform/types.h"
#include "pop3_words.h"

// --- Limits and waits ------------------------------------------------------

// The longest response line kept, CR LF included. The rest of a longer line
// is read and dropped up to its CR LF, so a hostile server cannot make the
// client hold more than this.
inline constexpr std::size_t pop3_max_line_length = 64 * 1024;
// A line still running past this many bytes is no POP3 line but a stream
// (a wrong port, a broken server) that would keep the check reading for
// ever: the session ends there as on a time-out, the line cut where it was.
inline constexpr std::size_t pop3_max_line_run = 16 << 20;

// Waits of a session in milliseconds (0 waits for ever), read by Connect. A
// receive that times out reads as a closed connection. Tests shorten them.
//
// A server that has not answered a connection in 10 s will not; a name
// with several addresses tries each, within the check's deadline.
extern int pop3_connect_timeout_ms;  // 10 s
// A handshake is a round trip or two and some arithmetic.
extern int pop3_handshake_timeout_ms;  // 10 s
// Each receive: a busy server may take seconds to open a large maildrop,
// but a user should not look at an empty window for a minute.
extern int pop3_receive_timeout_ms;  // 20 s
// The whole session from Connect on, so that a server trickling bytes
// cannot hold a check for ever: far above what a maildrop of thousands of
// messages takes on a slow link.
extern int pop3_check_deadline_ms;  // 90 s

// TOP commands a pipelining session keeps on their way at most. Their bytes
// (under 5 KB) fit the socket buffers between the two sides even when the
// server reads none of them while it writes answers the client is not yet
// reading, so neither side can wait on the other for ever. The window is
// topped up once a quarter of it has been answered: a link with a long
// round trip stays busy, and a batch is still one write.
inline constexpr int pop3_pipeline_depth = 256;
inline constexpr int pop3_pipeline_refill = pop3_pipeline_depth / 4;
// CAPA answers are a dozen short lines; a longer one is no capability list.
inline constexpr std::size_t pop3_max_capa_bytes = 16 * 1024;

// A count far above the messages a maildrop holds makes every number past
// them a refused TOP: this many refusals in a row end the listing rather
// than a STAT and a TOP for every number claimed.
inline constexpr int max_refused_in_a_row = 100;

// Bytes asked of each recv; what arrives beyond the current line is kept
// for the next read of the same session. 1 reads byte by byte and never past
// the end of a line. Read when a session object is made.
extern std::size_t pop3_read_size;

// The port Connect dials when the account names none and its security is
// not `tls`. Always pop3port, except in benchmarks and tools that cannot own
// port 110 and serve on a port of their own.
extern uint16 pop3_connect_port;

// The waits above as one session's limits; with `whole_check`, the check's
// deadline from now on too (a connection that idles between checks has none).
transport_limits session_limits(bool whole_check);

// Makes the transport of a session: plain sockets for `none`, TLS for the
// others. The fuzz targets put a plain one in for every mode.
using pop3_transport_maker = std::unique_ptr<Transport> (*)(pop_security security, const transport_limits& limits);
extern pop3_transport_maker pop3_make_transport;

// --- The session -------------------------------------------------------------

class POP3 {
 public:
  enum pop3_return_code {
    POP3_OK = 0,                 // the line begins with "+OK"
    POP3_NG = 1,                 // the line begins with "-ERR"
    POP3_BAD_ACCOUNT_INDEX = 2,  // no account with that index
    POP3_SOCKET_ERROR = 3,       // no socket, or no connection
    POP3_UNKNOWN_HOST = 4,
    POP3_UNKNOWN_USER = 5,
    POP3_WRONG_PASSWORD = 6,
    POP3_COMMAND_SUCSESS = 7,    // the command was accepted
    POP3_SERVER_NO_RESPONSE = 8, // never returned
    POP3_ERROR = 9,              // a failed write, or a line that is neither
  };

  // Opens nothing; `index` is the account in the mail settings.
  explicit POP3(int index);
  // Sends QUIT once more, without waiting for its answer, and closes the
  // socket; an object without one (none opened, or the session given up on after a
  // time-out or an endless line) writes and closes nothing.
  ~POP3();
  POP3(const POP3&) = delete;
  POP3& operator=(const POP3&) = delete;

  // --- Session ---

  // Looks the account up, connects to its host on its port (110 by
  // default), secures the connection as the account says, reads the
  // greeting and logs in with USER and PASS, or with AUTH XOAUTH2 when the
  // account says so. POP3_COMMAND_SUCSESS when the password or token was
  // accepted; otherwise a POP3_ code or the mail settings' error, and the
  // reason told through report_failure.
  status_t Connect();
  // POP3_ERROR, writing nothing, when the object has no socket. A secured
  // session closes once QUIT is sent, without awaiting its answer.
  status_t QUIT();

  // --- Mailbox commands: each reads its status line; further lines are
  // the caller's to read with GetData up to the empty string. ---

  status_t STAT();
  // In a pipelining session, TOP n for the n after the last one asked also
  // sends the TOPs up to the count of the last STAT ahead, and QUIT after
  // the last of them, so the caller must read each answer whole and ask for
  // the numbers in order; any other command ends the session (after it is
  // sent, unless QUIT went ahead).
  status_t TOP(int mes, int line);
  status_t NOOP();
  status_t LIST();
  // Sends STAT; the count it reports, or 0 when it fails or has none.
  int GetMsgNum();
  // Sends STAT as GetMsgNum does, but tells a failure from an empty
  // maildrop: the count when the answer is "+OK" with a count of 0 or more
  // that fits an int; nothing when STAT failed or its answer holds no such
  // count (GetLastMesg then holds what came, empty when nothing did).
  std::optional<int> MessageCount();
  // Whether a listing asks the count again before each message (the plain
  // exchange) rather than keeping the first one (the secured ones, so that
  // their TOPs can follow each other without a STAT between).
  bool RecountsEachMessage() const;

  // --- Reading ---

  // The next response line with its CR LF and with one leading dot
  // removed; the empty string at the terminating "." line and when the
  // connection yields nothing more. A line cut by a closed connection comes
  // back as far as it arrived.
  const std::string GetData();
  // Whether the last GetData met the terminating "." line: its empty string
  // ended the answer, not the connection.
  bool ResponseEnded() const;
  // The last status line, CR LF included.
  const std::string GetLastMesg();
  // The last USER command, without CR LF; empty after PASS, whose line
  // holds the password and is wiped once sent.
  const std::string& GetLastCmd();

 private:
  status_t GetServerMesg();
  status_t SendCommand(const std::string& command, secret_in secret = secret_in::none);
  // Sends STAT; the number after its "+OK" as read, sign and all, or
  // nothing when STAT failed or that number is missing or too large.
  std::optional<int> StatCount();
  // With PIPELINING: USER, PASS and STAT in one write, whose answers USER,
  // PASS and STAT then read in turn. False when the write failed.
  bool SendLoginAhead(const char* name, const std::string& password);
  // Reads the answer of `command` when it went ahead, else sends it as
  // SendCommand does.
  status_t SendOrAnswer(const std::string& command);
  status_t USER(const char* name);
  status_t PASS(const char* password);
  // AUTH XOAUTH2 in two steps (RFC 5034): the command, the server's "+ ",
  // then the SASL string on a line of its own. POP3_WRONG_PASSWORD when the
  // token is refused.
  status_t XOAUTH2(const char* user, const std::string& token);
  // Whether the last status line is a SASL continuation ("+ " or "+").
  bool IsContinuation() const;
  // TLS over the connection, the certificate checked against `account`.
  bool StartTLS(const mail_pop_account& account);
  // CAPA and its answer; the capabilities of a server that refuses it are none.
  bool Capabilities();
  bool HasCapability(const std::string& name) const;
  // STARTTLS: STLS, TLS, and CAPA again over it.
  bool UpgradeToTLS(const mail_pop_account& account);
  // Sends one or more command lines (each with its CR LF) in one write,
  // each logged for --debug.
  bool Send(const std::string& lines, secret_in secret = secret_in::none);
  // Records why the session failed and returns `status`.
  status_t Fail(status_t status, const std::string& reason);
  // Refills the read buffer; false when the connection has nothing more.
  bool ReadMore();
  // Ends the exchange: the connection is closed, buffered bytes are dropped,
  // and nothing more is sent or read.
  void GiveUp();

  std::unique_ptr<Transport> pop3_transport;  // none until Connect
  pop_security pop3_security = pop_security::none;
  std::string pop3_peer;  // the host, as the user wrote it
  std::vector<std::string> pop3_capabilities;  // first words of CAPA, upper case
  // Pipelined TOPs: answers still owed start at pop3_owed_first; the next
  // one to send is pop3_next_top; the last STAT count bounds them.
  bool pop3_pipelining = false;
  int pop3_listing_count = 0;
  int pop3_owed = 0;
  int pop3_owed_first = 0;
  int pop3_next_top = 0;
  int pop3_top_lines = 0;
  int pop3_login_ahead = 0;  // answers owed to the login sent ahead
  bool pop3_quit_ahead = false;  // QUIT went with the last TOPs
  int pop3_account_index;
  status_t status = B_OK;
  std::string pop3_server_response_message;
  std::string pop3_multi_line_message;
  bool pop3_response_ended = false;  // the last GetData met the "." line
  std::string pop3_command;
  // Bytes received and not yet returned: [pop3_read_begin, pop3_read_end).
  std::vector<char> pop3_read_buffer;
  std::size_t pop3_read_begin = 0;
  std::size_t pop3_read_end = 0;
};
