// The transport an account's security asks for, made below the protocols so
// that they see transport.h alone.
#pragma once

#include <memory>

#include "platform/mail_settings.h"
#include "platform/transport.h"

// Plain sockets for `none`; TLS over them for `starttls` and `tls`.
std::unique_ptr<Transport> make_transport(pop_security security, const transport_limits& limits);
