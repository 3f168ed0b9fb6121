// One POP3 session over a blocking TCP connection: login, message count,
// header lines, quit.
//
// The mail check makes one object per check on the notifier window's thread
// and uses it from that thread alone; every call blocks until the server has
// answered or a time-out has passed.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/debug_log.h"
#include "platform/types.h"

// --- Protocol ----------------------------------------------------------------

inline constexpr uint16 pop3port = 110;
inline const std::string pop3_server_response_ok = "+OK";
inline const std::string pop3_server_response_ng = "-ERR";
inline const std::string pop3_server_response_termination = ".\r\n";

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
extern int pop3_connect_timeout_ms;  // 30 s
extern int pop3_receive_timeout_ms;  // 60 s

// Bytes asked of each recv; what arrives beyond the current line is kept
// for the next read of the same session. 1 reads byte by byte and never past
// the end of a line. Read when a session object is made.
extern std::size_t pop3_read_size;

// The port Connect dials. Always pop3port, except in benchmarks and tools
// that cannot own port 110 and serve on a port of their own.
extern uint16 pop3_connect_port;

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
  // Sends QUIT once more (its result ignored) and closes the socket; an
  // object without one (none opened, or the session given up on after a
  // time-out or an endless line) writes and closes nothing.
  ~POP3();
  POP3(const POP3&) = delete;
  POP3& operator=(const POP3&) = delete;

  // --- Session ---

  // Looks the account up, connects to its host on port 110, reads the
  // greeting and logs in. POP3_COMMAND_SUCSESS when the password was
  // accepted; otherwise a POP3_ code or the mail settings' error.
  status_t Connect();
  // POP3_ERROR, writing nothing, when the object has no socket.
  status_t QUIT();

  // --- Mailbox commands: each reads its status line; further lines are
  // the caller's to read with GetData up to the empty string. ---

  status_t STAT();
  status_t TOP(int mes, int line);
  status_t NOOP();
  status_t LIST();
  // Sends STAT; the count it reports, or 0 when it fails or has none.
  int GetMsgNum();

  // --- Reading ---

  // The next response line with its CR LF and with one leading dot
  // removed; the empty string at the terminating "." line and when the
  // connection yields nothing more. A line cut by a closed connection comes
  // back as far as it arrived.
  const std::string GetData();
  // The last status line, CR LF included.
  const std::string GetLastMesg();
  // The last USER or PASS command, without CR LF.
  const std::string& GetLastCmd();

 private:
  status_t GetServerMesg();
  // `secret` marks what the debug log must not show of the command.
  status_t SendCommand(const std::string& command, secret_in secret = secret_in::none);
  status_t USER(const char* name);
  status_t PASS(const char* password);
  // Refills the read buffer; false when the connection has nothing more.
  bool ReadMore();
  // Ends the exchange: the socket is closed, buffered bytes are dropped, and
  // nothing more is sent or read.
  void GiveUp();

  int pop3_socket = -1;  // -1: no socket
  int pop3_account_index;
  status_t status = B_OK;
  std::string pop3_server_response_message;
  std::string pop3_multi_line_message;
  std::string pop3_command;
  // Bytes received and not yet returned: [pop3_read_begin, pop3_read_end).
  std::vector<char> pop3_read_buffer;
  std::size_t pop3_read_begin = 0;
  std::size_t pop3_read_end = 0;
};
