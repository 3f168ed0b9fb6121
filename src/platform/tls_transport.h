// TLS over the plain transport, with OpenSSL 3. Until start_tls it carries
// plain bytes (a STARTTLS session's first exchange). start_tls verifies the
// server before it returns:
//   - the chain against the system store (SSL_CERT_FILE and SSL_CERT_DIR
//     apply) and the account's cafile, the name or address of the host, the
//     dates; or, when the account pins a fingerprint, that alone;
//   - TLS 1.2 at least; the host name goes out as SNI.
// No setting turns verification off.
#pragma once

#include <memory>

#include "platform/transport.h"

std::unique_ptr<Transport> make_tls_transport(const transport_limits& limits);
