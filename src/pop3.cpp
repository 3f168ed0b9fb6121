#include "pop3.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <string_view>

#include "platform/debug_log.h"
#include "platform/mail_settings.h"
#include "platform/secret.h"
#include "platform/sockets.h"

int pop3_connect_timeout_ms = 30 * 1000;
int pop3_receive_timeout_ms = 60 * 1000;
std::size_t pop3_read_size = 4096;
uint16 pop3_connect_port = pop3port;

namespace {

// The account record holds the password: cleared however Connect ends.
struct AccountRecord {
  mail_pop_account account{};
  AccountRecord() = default;
  AccountRecord(const AccountRecord&) = delete;
  AccountRecord& operator=(const AccountRecord&) = delete;
  ~AccountRecord() { explicit_bzero(&account, sizeof account); }
};

bool starts_with(const std::string& line, const std::string& prefix) {
  return line.compare(0, prefix.size(), prefix) == 0;
}

std::string_view without_line_end(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  return line;
}

// A host the resolver does not know, read as four numbers written with dots
// (the first number is the first byte on the wire). Numbers after the
// fourth are ignored; fewer than four make no address.
bool dotted_quad(const char* host, uint32* address) {
  std::string s_pop3_host = host;
  if (s_pop3_host.find_first_not_of("0123456789.") != std::string::npos) return false;
  std::replace(s_pop3_host.begin(), s_pop3_host.end(), '.', ' ');
  std::istringstream numbers(s_pop3_host);
  uint32 pop3_ip = 0;
  for (int i = 0; i < 4; ++i) {
    unsigned long number = 0;
    if (!(numbers >> number) || number > 255) return false;
    pop3_ip = pop3_ip * 256 + static_cast<uint32>(number);
  }
  *address = htonl(pop3_ip);
  return true;
}

// The empty text is no name to ask the resolver about.
bool resolve_host(const char* host, uint32* address) {
  if (*host == '\0') return false;
  return resolve_ipv4(host, address) || dotted_quad(host, address);
}

bool connect_to(int socket, uint32 address) {
  sockaddr_in server;
  std::memset(&server, 0, sizeof server);
  server.sin_family = AF_INET;
  server.sin_port = htons(pop3_connect_port);
  server.sin_addr.s_addr = address;
  return connect_within(socket, reinterpret_cast<const sockaddr*>(&server), sizeof server,
                        pop3_connect_timeout_ms) == 0 &&
         set_receive_timeout(socket, pop3_receive_timeout_ms);
}

}  // namespace

POP3::POP3(int index)
    : pop3_account_index(index), pop3_read_buffer(std::max<std::size_t>(pop3_read_size, 1)) {}

POP3::~POP3() {
  if (pop3_socket >= 0) {
    QUIT();
    closesocket(pop3_socket);
  }
  wipe_secret(pop3_command);
}

// --- Session ---------------------------------------------------------------

status_t POP3::Connect() {
  if (pop3_account_index >= count_pop_accounts()) return POP3_BAD_ACCOUNT_INDEX;
  // One object, one session: a second socket would leak the first.
  if (pop3_socket >= 0) return POP3_SOCKET_ERROR;
  pop3_socket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (pop3_socket < 0) {
    pop3_socket = -1;
    return POP3_SOCKET_ERROR;
  }
  AccountRecord record;
  status = get_pop_account(&record.account, pop3_account_index);
  if (status != B_OK) return status;

  uint32 address = 0;
  if (!resolve_host(record.account.pop_host, &address)) return POP3_UNKNOWN_HOST;
  if (!connect_to(pop3_socket, address)) return POP3_SOCKET_ERROR;

  status = GetServerMesg();
  if (status != POP3_OK) return POP3_ERROR;
  status = USER(record.account.pop_name);
  if (status != POP3_COMMAND_SUCSESS) return status;
  return PASS(record.account.pop_password);
}

status_t POP3::QUIT() { return SendCommand("QUIT"); }

status_t POP3::USER(const char* name) {
  pop3_command = "USER ";
  pop3_command += name;
  const status_t result = SendCommand(pop3_command);
  return result == POP3_NG ? POP3_UNKNOWN_USER : result;
}

status_t POP3::PASS(const char* password) {
  pop3_command = "PASS ";
  pop3_command += password;
  const status_t result = SendCommand(pop3_command, secret_in::argument);
  return result == POP3_NG ? POP3_WRONG_PASSWORD : result;
}

// --- Mailbox commands --------------------------------------------------------

status_t POP3::STAT() { return SendCommand("STAT"); }

status_t POP3::TOP(int mes, int line) {
  return SendCommand("TOP " + std::to_string(mes) + " " + std::to_string(line));
}

status_t POP3::NOOP() { return SendCommand("NOOP"); }

status_t POP3::LIST() { return SendCommand("LIST"); }

int POP3::GetMsgNum() {
  if (STAT() != POP3_COMMAND_SUCSESS) return 0;
  std::istringstream reply(GetLastMesg());
  std::string dummy;
  int num = 0;
  reply >> dummy;
  // A count that is missing or does not fit an int is no count.
  if (!(reply >> num)) num = 0;
  return num;
}

// --- Reading and writing -----------------------------------------------------

const std::string POP3::GetData() {
  pop3_multi_line_message.clear();
  char previous = 0;
  bool complete = false;
  bool cut = false;
  std::size_t run = 0;
  while (!complete) {
    if (run >= pop3_max_line_run) {
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
    previous = begin[length - 1];
    const std::size_t room = pop3_max_line_length - pop3_multi_line_message.size();
    if (length > room) cut = true;
    pop3_multi_line_message.append(begin, std::min(length, room));
    pop3_read_begin += length;
    run += length;
  }
  // A cut line still ends as a line does.
  if (cut && complete) pop3_multi_line_message.replace(pop3_max_line_length - 2, 2, "\r\n");
  if (debug_log_enabled && !pop3_multi_line_message.empty()) debug_received(without_line_end(pop3_multi_line_message));

  if (starts_with(pop3_multi_line_message, pop3_server_response_termination))
    pop3_multi_line_message.clear();
  else if (!pop3_multi_line_message.empty() && pop3_multi_line_message[0] == '.')
    pop3_multi_line_message.erase(0, 1);
  return pop3_multi_line_message;
}

bool POP3::ReadMore() {
  if (pop3_socket < 0) return false;
  const ssize_t n = recv_some(pop3_socket, pop3_read_buffer.data(), pop3_read_buffer.size());
  if (n > 0) {
    pop3_read_begin = 0;
    pop3_read_end = static_cast<std::size_t>(n);
    return true;
  }
  if (n == 0) debug_note("the server closed the connection");
  // A server that fell silent counts as gone: nothing more is awaited from
  // it and nothing more is sent, so one time-out ends the whole session.
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
    debug_note("no answer within " + std::to_string(pop3_receive_timeout_ms) + " ms");
    GiveUp();
  }
  return false;
}

// Closed rather than shut down: a shut-down socket would still hand out what
// the kernel had buffered of an endless stream.
void POP3::GiveUp() {
  closesocket(pop3_socket);
  pop3_socket = -1;
  pop3_read_begin = pop3_read_end = 0;
}

const std::string POP3::GetLastMesg() { return pop3_server_response_message; }

const std::string& POP3::GetLastCmd() { return pop3_command; }

status_t POP3::GetServerMesg() {
  pop3_server_response_message = GetData();
  if (starts_with(pop3_server_response_message, pop3_server_response_ok)) return POP3_OK;
  if (starts_with(pop3_server_response_message, pop3_server_response_ng)) return POP3_NG;
  return POP3_ERROR;
}

status_t POP3::SendCommand(const std::string& command, secret_in secret) {
  if (pop3_socket < 0) return POP3_ERROR;
  debug_sent(command, secret);
  // The command and its CR LF in one write: two small writes and then a
  // read can wait on Nagle's algorithm and the server's delayed ACK.
  std::string line;
  line.reserve(command.size() + 2);
  line += command;
  line += "\r\n";
  const bool sent = send_all(pop3_socket, line.data(), line.size());
  wipe_secret(line);  // it may be the PASS line
  if (!sent) return POP3_ERROR;
  const status_t result = GetServerMesg();
  return result == POP3_OK ? POP3_COMMAND_SUCSESS : result;
}
