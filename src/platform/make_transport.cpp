#include "platform/make_transport.h"

#include "platform/sockets.h"
#include "platform/tls_transport.h"

std::unique_ptr<Transport> make_transport(pop_security security, const transport_limits& limits) {
  if (security == pop_security::none) return std::make_unique<SocketTransport>(limits);
  return make_tls_transport(limits);
}
