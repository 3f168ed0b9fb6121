// BSD sockets as the POP3 client needs them: the platform's names where it
// has its own, and the guards a Linux process wants around the raw calls.
#pragma once

#include <sys/socket.h>

#include <cstddef>

#include "platform/types.h"

// Closes a socket; the platform's counterpart of close() for sockets.
int closesocket(int socket);

// The first IPv4 address the resolver knows for `host`, in network byte
// order; it takes the place of gethostbyname. False when the name does not
// resolve.
bool resolve_ipv4(const char* host, uint32* address);

// connect() that gives up after `timeout_ms` (0 waits for ever). Returns 0,
// or -1 with errno set (ETIMEDOUT when the time ran out).
int connect_within(int socket, const sockaddr* address, socklen_t length, int timeout_ms);

// A receive that waits longer than `timeout_ms` fails with EAGAIN (0 waits for
// ever). False when the option cannot be set.
bool set_receive_timeout(int socket, int timeout_ms);

// Sends every byte, retrying after signals and short writes. A closed
// connection is a failure, never SIGPIPE. False on any failure.
bool send_all(int socket, const char* bytes, std::size_t length);

// recv() retried after signals: the count received, 0 at the end of the
// stream, or -1 with errno set (EAGAIN on a time-out).
ssize_t recv_some(int socket, char* buffer, std::size_t room);
