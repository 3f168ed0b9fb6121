#include "pop3.h"

#include <algorithm>
#include <cstring>
#include <sstream>

#include "check_reason.h"
#include "credentials.h"
#include "platform/ascii.h"
#include "platform/debug_log.h"
#include "platform/mail_settings.h"
#include "platform/make_transport.h"
#include "platform/report.h"
#include "platform/secret.h"
#include "protocol_line.h"
#include "xoauth2.h"

int pop3_connect_timeout_ms = 10 * 1000;
int pop3_handshake_timeout_ms = 10 * 1000;
int pop3_receive_timeout_ms = 20 * 1000;
int pop3_check_deadline_ms = 90 * 1000;
std::size_t pop3_read_size = 4096;
uint16 pop3_connect_port = pop3port;

namespace {


tls_trust trust_of(const mail_pop_account& account) {
  return {account.pop_host, account.pop_cafile, account.pop_fingerprint};
}

uint16 port_of(const mail_pop_account& account) {
  if (account.pop_port != 0) return account.pop_port;
  return account.security == pop_security::tls ? pop3s_port : pop3_connect_port;
}

// Whether a refusal says the server wants a secured connection first, as
// servers that refuse plain-text logins put it ("Plaintext authentication
// disallowed on non-secure (SSL/TLS) connections").
bool asks_for_tls(std::string answer) {
  to_ascii_lower(answer);
  return answer.find("plaintext") != std::string::npos || answer.find("tls") != std::string::npos ||
         answer.find("ssl") != std::string::npos;
}

}  // namespace

pop3_transport_maker pop3_make_transport = make_transport;

transport_limits session_limits(bool whole_check) {
  transport_limits limits;
  limits.connect_ms = pop3_connect_timeout_ms;
  limits.handshake_ms = pop3_handshake_timeout_ms;
  limits.receive_ms = pop3_receive_timeout_ms;
  if (whole_check) limits.deadline = deadline_after(pop3_check_deadline_ms);
  return limits;
}

POP3::POP3(int index)
    : pop3_account_index(index), pop3_read_buffer(std::max<std::size_t>(pop3_read_size, 1)) {}

POP3::~POP3() {
  // The second QUIT goes as it always has, but its answer is not awaited: a
  // server that answered the first and keeps the connection open would hold
  // every check's window for a whole receive time-out.
  if (pop3_transport && pop3_transport->is_open() && (pop3_quit_ahead || Send("QUIT\r\n"))) GiveUp();
  wipe_secret(pop3_command);
}

// --- Session ---------------------------------------------------------------

status_t POP3::Connect() {
  if (pop3_account_index >= count_pop_accounts()) {
    // Unless the file itself was the trouble, told already.
    if (report_reason().empty())
      report_failure("no mail account to check: the accounts file holds no [account] section");
    return POP3_BAD_ACCOUNT_INDEX;
  }
  // One object, one session: a second connection would replace the first.
  if (pop3_transport) return POP3_SOCKET_ERROR;
  AccountRecord record;
  status = get_pop_account(&record.account, pop3_account_index);
  if (status != B_OK) return status;
  const mail_pop_account& account = record.account;
  // The check's deadline runs from here: a slow password command is part
  // of the check it holds up.
  const transport_limits limits = session_limits(true);
  SecretText secret;
  if (!fetch_secret(account, pop3_account_index, secret)) return POP3_ERROR;

  pop3_security = account.security;
  pop3_peer = account.pop_host;
  pop3_transport = pop3_make_transport(pop3_security, limits);
  // The TLS set-up that needs no server, before its clock runs.
  if (pop3_security != pop_security::none && !pop3_transport->prepare_tls(trust_of(account))) {
    report_failure(pop3_transport->reason());
    return POP3_ERROR;
  }

  if (!pop3_transport->connect(account.pop_host, port_of(account))) {
    report_failure(pop3_transport->reason());
    return pop3_transport->error() == transport_error::unknown_host ? POP3_UNKNOWN_HOST : POP3_SOCKET_ERROR;
  }
  if (pop3_security == pop_security::tls && !StartTLS(account)) return POP3_ERROR;

  status = GetServerMesg();
  if (status != POP3_OK) return Fail(POP3_ERROR, command_failure("the connection", GetLastMesg()));
  if (pop3_security != pop_security::none) {
    if (!Capabilities()) return POP3_ERROR;
    if (pop3_security == pop_security::starttls && !UpgradeToTLS(account)) return POP3_ERROR;
    pop3_pipelining = HasCapability("PIPELINING");
  }

  if (account.auth == pop_auth::xoauth2) return XOAUTH2(account.pop_name, secret.text);
  if (pop3_pipelining && !SendLoginAhead(account.pop_name, secret.text))
    return Fail(POP3_ERROR, command_failure("USER", ""));
  status = USER(account.pop_name);
  if (status == POP3_UNKNOWN_USER)
    return Fail(status, pop3_peer + " refused the user name: " + quoted_server_line(GetLastMesg()) +
                            (pop3_security == pop_security::none && asks_for_tls(GetLastMesg())
                                 ? "; set security = starttls or tls for the account"
                                 : ""));
  if (status != POP3_COMMAND_SUCSESS) return Fail(status, command_failure("USER", GetLastMesg()));
  status = PASS(secret.text.c_str());
  if (status == POP3_WRONG_PASSWORD)
    return Fail(status, pop3_peer + " refused the password: " + quoted_server_line(GetLastMesg()));
  if (status != POP3_COMMAND_SUCSESS) return Fail(status, command_failure("PASS", GetLastMesg()));
  return status;
}

bool POP3::StartTLS(const mail_pop_account& account) {
  // What came before the handshake is not the server's word: a STARTTLS
  // reply may have had commands of an attacker's glued to it.
  pop3_read_begin = pop3_read_end = 0;
  if (pop3_transport->start_tls(trust_of(account))) return true;
  report_failure(pop3_transport->reason());
  GiveUp();
  return false;
}

bool POP3::UpgradeToTLS(const mail_pop_account& account) {
  if (!HasCapability("STLS")) {
    Fail(POP3_ERROR, pop3_peer + " does not offer STLS, so the connection cannot be secured; "
                                 "try security = tls (port 995)");
    GiveUp();
    return false;
  }
  if (SendCommand("STLS") != POP3_COMMAND_SUCSESS) {
    Fail(POP3_ERROR, command_failure("STLS", GetLastMesg()));
    GiveUp();
    return false;
  }
  return StartTLS(account) && Capabilities();
}

bool POP3::Capabilities() {
  pop3_capabilities.clear();
  const status_t result = SendCommand("CAPA");
  if (result == POP3_NG) return true;
  if (result != POP3_COMMAND_SUCSESS) {
    Fail(POP3_ERROR, command_failure("CAPA", GetLastMesg()));
    return false;
  }
  std::size_t read = 0;
  for (std::string line = GetData(); !line.empty(); line = GetData()) {
    read += line.size();
    if (read > pop3_max_capa_bytes) {
      Fail(POP3_ERROR, pop3_peer + " sent a capability list without end");
      GiveUp();
      return false;
    }
    std::string word(without_line_end(line).substr(0, line.find(' ')));
    to_ascii_upper(word);
    pop3_capabilities.push_back(std::move(word));
  }
  return true;
}

bool POP3::HasCapability(const std::string& name) const {
  return std::find(pop3_capabilities.begin(), pop3_capabilities.end(), name) != pop3_capabilities.end();
}

// The plain exchange awaits QUIT's answer as it always has. A secured
// session wants nothing more of the server once QUIT is on its way: it
// closes without the answer's round trip, having sent QUIT with the last
// TOPs when it could.
status_t POP3::QUIT() {
  if (pop3_security == pop_security::none) return SendCommand("QUIT");
  const bool sent = pop3_quit_ahead || Send("QUIT\r\n");
  GiveUp();
  return sent ? POP3_COMMAND_SUCSESS : POP3_ERROR;
}

status_t POP3::USER(const char* name) {
  pop3_command = "USER ";
  pop3_command += name;
  const status_t result = SendOrAnswer(pop3_command);
  return result == POP3_NG ? POP3_UNKNOWN_USER : result;
}

status_t POP3::PASS(const char* password) {
  pop3_command = "PASS ";
  pop3_command += password;
  const status_t result = SendOrAnswer(pop3_command);
  wipe_secret(pop3_command);  // the login is over, whatever its answer
  return result == POP3_NG ? POP3_WRONG_PASSWORD : result;
}

// RFC 2449 lets a pipelining client send these without waiting: the login
// and the count cost one round trip instead of three. The certificate has
// passed before this runs, as before any credential.
bool POP3::SendLoginAhead(const char* name, const std::string& password) {
  std::string batch = "USER " + std::string(name) + "\r\nPASS " + password + "\r\nSTAT\r\n";
  const bool sent = Send(batch);
  wipe_secret(batch);
  if (sent) pop3_login_ahead = 3;
  return sent;
}

status_t POP3::SendOrAnswer(const std::string& command) {
  if (pop3_login_ahead == 0) return SendCommand(command);
  --pop3_login_ahead;
  const status_t result = GetServerMesg();
  return result == POP3_OK ? POP3_COMMAND_SUCSESS : result;
}

status_t POP3::XOAUTH2(const char* user, const std::string& token) {
  status_t result = SendCommand("AUTH XOAUTH2");
  if (result == POP3_COMMAND_SUCSESS)
    return Fail(POP3_ERROR, pop3_peer + " answered AUTH XOAUTH2 without asking for the token: " +
                                quoted_server_line(GetLastMesg()));
  if (!IsContinuation()) return Fail(POP3_ERROR, command_failure("AUTH XOAUTH2", GetLastMesg()));
  SecretText response;
  response.text = xoauth2_response(user, token);
  result = SendCommand(response.text, secret_in::whole_line);
  if (result == POP3_COMMAND_SUCSESS) return result;
  if (result == POP3_NG)
    return Fail(POP3_WRONG_PASSWORD, pop3_peer + " refused the access token: " + quoted_server_line(GetLastMesg()));
  if (!IsContinuation()) return Fail(result, command_failure("the access token", GetLastMesg()));
  // A refusal told as a challenge holding a JSON error: the empty line
  // ends the exchange, and the server's -ERR follows.
  const std::string status_text = xoauth2_refusal_status(GetLastMesg().substr(1));
  SendCommand("");
  return Fail(POP3_WRONG_PASSWORD, pop3_peer + " refused the access token (status " +
                                       (status_text.empty() ? "unknown" : status_text) +
                                       "): " + quoted_server_line(GetLastMesg()));
}

bool POP3::IsContinuation() const {
  return pop3_server_response_message.starts_with("+ ") || pop3_server_response_message == "+\r\n";
}

// --- Mailbox commands --------------------------------------------------------

status_t POP3::STAT() { return SendOrAnswer("STAT"); }

status_t POP3::TOP(int mes, int line) {
  const bool in_order = pop3_owed > 0 ? mes == pop3_owed_first && line == pop3_top_lines : mes >= 1;
  if (!pop3_pipelining || !in_order || mes > pop3_listing_count)
    return SendCommand("TOP " + std::to_string(mes) + " " + std::to_string(line));
  pop3_server_response_message.clear();
  if (pop3_owed == 0) {
    pop3_owed_first = pop3_next_top = mes;
    pop3_top_lines = line;
  }
  if (pop3_owed <= pop3_pipeline_depth - pop3_pipeline_refill) {
    std::string batch;
    for (; pop3_owed < pop3_pipeline_depth && pop3_next_top <= pop3_listing_count; ++pop3_owed, ++pop3_next_top)
      batch += "TOP " + std::to_string(pop3_next_top) + " " + std::to_string(line) + "\r\n";
    // The batch that asks for the last message ends the session too: the
    // server closes right after its last answer, a round trip sooner than
    // a QUIT sent once the listing is read. QUIT deletes nothing here, so it
    // is as harmless in a listing that stops short.
    if (pop3_next_top > pop3_listing_count && !pop3_quit_ahead) {
      batch += "QUIT\r\n";
      pop3_quit_ahead = true;
    }
    if (!batch.empty() && !Send(batch)) {
      pop3_owed = 0;
      return POP3_ERROR;
    }
  }
  --pop3_owed;
  ++pop3_owed_first;
  const status_t result = GetServerMesg();
  return result == POP3_OK ? POP3_COMMAND_SUCSESS : result;
}

status_t POP3::NOOP() { return SendCommand("NOOP"); }

status_t POP3::LIST() { return SendCommand("LIST"); }

int POP3::GetMsgNum() { return StatCount().value_or(0); }

std::optional<int> POP3::MessageCount() {
  const std::optional<int> count = StatCount();
  if (count && *count < 0) return std::nullopt;
  return count;
}

std::optional<int> POP3::StatCount() {
  pop3_listing_count = 0;
  if (STAT() != POP3_COMMAND_SUCSESS) return std::nullopt;
  std::istringstream reply(GetLastMesg());
  std::string dummy;
  int num = 0;
  reply >> dummy;
  // A count that is missing or does not fit an int is no count.
  if (!(reply >> num)) return std::nullopt;
  pop3_listing_count = num;
  return num;
}

bool POP3::RecountsEachMessage() const { return pop3_security == pop_security::none; }

// --- Reading and writing -----------------------------------------------------

const std::string POP3::GetData() {
  pop3_multi_line_message.clear();
  char previous = 0;
  bool complete = false;
  bool cut = false;
  bool bare_lf = false;
  std::size_t run = 0;
  while (!complete) {
    if (run >= pop3_max_line_run) {
      report_failure("a line from the server ran past " + std::to_string(pop3_max_line_run >> 20) +
                     " MB without its end; gave up on the connection");
      GiveUp();
      break;
    }
    if (pop3_read_begin == pop3_read_end && !ReadMore()) break;
    const char* begin = pop3_read_buffer.data() + pop3_read_begin;
    const std::size_t available = pop3_read_end - pop3_read_begin;
    const char* lf = static_cast<const char*>(std::memchr(begin, '\n', available));
    const std::size_t length = lf != nullptr ? static_cast<std::size_t>(lf - begin) + 1 : available;
    // Only CR LF ends a line; the CR may have come with the previous chunk.
    complete = lf != nullptr && (lf > begin ? lf[-1] : previous) == '\r';
    bare_lf = bare_lf || (lf != nullptr && !complete);
    previous = begin[length - 1];
    const std::size_t room = pop3_max_line_length - pop3_multi_line_message.size();
    if (length > room) cut = true;
    pop3_multi_line_message.append(begin, std::min(length, room));
    pop3_read_begin += length;
    run += length;
  }
  // An answer that never came whole because its lines end in LF alone: the
  // time-out that follows is not the server's silence.
  if (!complete && bare_lf)
    report_failure("the server ends its lines with LF alone, not CR LF as POP3 asks, so its answer never ended");
  // A cut line still ends as a line does.
  if (cut && complete) pop3_multi_line_message.replace(pop3_max_line_length - 2, 2, "\r\n");
  if (!pop3_multi_line_message.empty()) debug_received(without_line_end(pop3_multi_line_message));

  pop3_response_ended = pop3_multi_line_message.starts_with(pop3_server_response_termination);
  if (pop3_response_ended)
    pop3_multi_line_message.clear();
  else if (!pop3_multi_line_message.empty() && pop3_multi_line_message[0] == '.')
    pop3_multi_line_message.erase(0, 1);
  return pop3_multi_line_message;
}

bool POP3::ReadMore() {
  if (!pop3_transport || !pop3_transport->is_open()) return false;
  const std::size_t n = pop3_transport->receive_some(pop3_read_buffer.data(), pop3_read_buffer.size());
  if (n > 0) {
    pop3_read_begin = 0;
    pop3_read_end = n;
    return true;
  }
  // A server that fell silent counts as gone: nothing more is awaited from
  // it and nothing more is sent, so one time-out ends the whole session.
  // The check's own ends are told here; a silent server, by the command
  // that met it.
  const transport_error error = pop3_transport->error();
  if (error == transport_error::deadline || error == transport_error::cancelled)
    report_failure(pop3_transport->reason());
  if (error == transport_error::timed_out || error == transport_error::deadline ||
      error == transport_error::cancelled)
    GiveUp();
  return false;
}

// Closed rather than shut down: a shut-down socket would still hand out what
// the kernel had buffered of an endless stream.
void POP3::GiveUp() {
  if (pop3_transport) pop3_transport->close();
  pop3_read_begin = pop3_read_end = 0;
  pop3_owed = 0;
}

const std::string POP3::GetLastMesg() { return pop3_server_response_message; }

bool POP3::ResponseEnded() const { return pop3_response_ended; }

const std::string& POP3::GetLastCmd() { return pop3_command; }

status_t POP3::GetServerMesg() {
  pop3_server_response_message = GetData();
  if (pop3_server_response_message.starts_with(pop3_server_response_ok)) return POP3_OK;
  if (pop3_server_response_message.starts_with(pop3_server_response_ng)) return POP3_NG;
  return POP3_ERROR;
}

bool POP3::Send(const std::string& lines, secret_in secret) {
  if (!pop3_transport || !pop3_transport->is_open()) return false;
  for (std::size_t begin = 0; debug_log_enabled && begin < lines.size();) {
    const std::size_t end = std::min(lines.find("\r\n", begin), lines.size());
    const std::string_view line(lines.data() + begin, end - begin);
    debug_sent(line, line.starts_with("PASS ") ? secret_in::argument : secret);
    begin = end + 2;
  }
  return pop3_transport->send_all(lines);
}

status_t POP3::SendCommand(const std::string& command, secret_in secret) {
  // A command that reads no status line leaves none of an earlier one.
  pop3_server_response_message.clear();
  if (!pop3_transport || !pop3_transport->is_open()) return POP3_ERROR;
  // Nothing follows a QUIT: its answer would be read as this one's.
  if (pop3_quit_ahead) {
    GiveUp();
    return POP3_ERROR;
  }
  // The command and its CR LF in one write: two small writes and then a
  // read can wait on Nagle's algorithm and the server's delayed ACK.
  std::string line;
  line.reserve(command.size() + 2);
  line += command;
  line += "\r\n";
  const bool sent = Send(line, secret);
  wipe_secret(line);  // it may be the PASS line or the SASL string
  if (!sent) return POP3_ERROR;
  // Its answer would come after those of TOPs still on their way: it goes
  // (a QUIT after a listing cut short), but the session ends there.
  if (pop3_owed > 0 || pop3_login_ahead > 0) {
    GiveUp();
    return POP3_ERROR;
  }
  const status_t result = GetServerMesg();
  return result == POP3_OK ? POP3_COMMAND_SUCSESS : result;
}

status_t POP3::Fail(status_t result, const std::string& reason) {
  // A failure of the connection itself says more than what it cut short.
  const bool broken = pop3_transport && pop3_transport->error() != transport_error::none;
  report_failure(broken ? pop3_transport->reason() : reason);
  return result;
}
