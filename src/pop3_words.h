// The words of POP3 (RFC 1939) that both the session and the reasons for its
// failures read, so that neither has to include the other.
#pragma once

#include <string>

#include "platform/types.h"

inline constexpr uint16 pop3port = 110;
inline constexpr uint16 pop3s_port = 995;  // TLS from the first byte (RFC 8314)
inline const std::string pop3_server_response_ok = "+OK";
inline const std::string pop3_server_response_ng = "-ERR";
inline const std::string pop3_server_response_termination = ".\r\n";
