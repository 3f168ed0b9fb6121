// The client contexts of the TLS transport, with their trust stores. Loading
// the system's store (some 140 certificates parsed from one bundle) was most
// of a check's CPU, so a context is made once for a given trust and shared
// by every later session with that trust, on any thread, until a file it was
// loaded from changes (an updated system bundle, an edited cafile).
// Part of the TLS transport: nothing else includes it.
#pragma once

#include <string>

struct ssl_ctx_st;

struct tls_context {
  ssl_ctx_st* ctx = nullptr;  // a reference of the caller's own (SSL_CTX_free); null on failure
  bool cafile_unreadable = false;  // the failure was the account's cafile
  std::string why;                 // the failure, for the user
};

// A context verifying against the system store and `cafile` (none when
// empty): TLS 1.2 at least, no renegotiation. Any thread.
tls_context shared_tls_context(const std::string& cafile);

// The oldest error OpenSSL queued on this thread, as text; the queue is emptied.
std::string openssl_error();
