#include "platform/tls_transport.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/debug_log.h"
#include "platform/network_cancel.h"
#include "platform/no_sigpipe.h"
#include "platform/sockets.h"

namespace {

// Enough of a certificate's subject or issuer to recognise it.
constexpr std::size_t max_name_text = 160;

struct FreeSsl {
  void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
  void operator()(SSL* ssl) const { SSL_free(ssl); }
  void operator()(BIO* bio) const { BIO_free(bio); }
};
using CtxPtr = std::unique_ptr<SSL_CTX, FreeSsl>;
using SslPtr = std::unique_ptr<SSL, FreeSsl>;
using BioPtr = std::unique_ptr<BIO, FreeSsl>;

bool is_address(const std::string& host) {
  unsigned char raw[sizeof(in6_addr)];
  return inet_pton(AF_INET, host.c_str(), raw) == 1 || inet_pton(AF_INET6, host.c_str(), raw) == 1;
}

// The oldest error OpenSSL queued, as text; the queue is emptied.
std::string openssl_error() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "no reason given";
  if (ERR_SYSTEM_ERROR(code)) return std::strerror(ERR_GET_REASON(code));
  const char* reason = ERR_reason_error_string(code);
  return reason != nullptr ? reason : "error " + std::to_string(code);
}

// What an OpenSSL printer writes, as text.
template <class Print>
std::string printed(Print print) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio) return "?";
  print(bio.get());
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  return length > 0 ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

// A name on a certificate is whatever its maker wrote, and anyone on the
// path can show one: it reaches the user as printable ASCII only (OpenSSL
// escapes control and non-ASCII bytes as "\1B", "\C3\BC"), cut short.
std::string name_text(const X509_NAME* name) {
  std::string text = printed([name](BIO* bio) { X509_NAME_print_ex(bio, name, 0, XN_FLAG_ONELINE); });
  std::replace_if(text.begin(), text.end(), [](unsigned char c) { return c < 0x20 || c > 0x7e; }, '?');
  if (text.size() > max_name_text) text.replace(max_name_text, std::string::npos, "...");
  return text;
}

// The SHA-256 of the certificate: lower-case digits, and "AB:CD:..." as
// `openssl x509 -fingerprint -sha256` shows it.
struct Fingerprint {
  std::string digits;
  std::string shown;
};

Fingerprint fingerprint_of(X509* certificate) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  Fingerprint out;
  if (X509_digest(certificate, EVP_sha256(), digest, &length) != 1) return out;
  for (unsigned int i = 0; i < length; ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02x", digest[i]);
    out.digits += pair;
    std::snprintf(pair, sizeof pair, "%02X", digest[i]);
    if (i > 0) out.shown += ':';
    out.shown += pair;
  }
  return out;
}

class TlsTransport final : public Transport {
 public:
  explicit TlsTransport(const transport_limits& limits) : socket_(limits) {}
  ~TlsTransport() override { close(); }
  TlsTransport(const TlsTransport&) = delete;
  TlsTransport& operator=(const TlsTransport&) = delete;

  bool connect(const std::string& host, uint16 port) override {
    close();
    return socket_.connect(host, port) || from_socket();
  }

  bool start_tls(const tls_trust& trust) override {
    clear_failure();
    if (!socket_.is_open()) return fail(transport_error::io, "not connected");
    if (ssl_) return fail(transport_error::tls, "TLS is already on");
    if (make_session(trust) && handshake() && verified(trust)) return true;
    close();
    return false;
  }

  bool send_all(std::string_view bytes) override {
    if (!ssl_) return socket_.send_all(bytes) || from_socket();
    while (!bytes.empty()) {
      if (network_waits_cancelled()) return fail(transport_error::cancelled, "the check was cancelled");
      ERR_clear_error();
      std::size_t written = 0;
      const NoSigpipe guard;
      if (SSL_write_ex(ssl_.get(), bytes.data(), bytes.size(), &written) == 1) {
        bytes.remove_prefix(written);
        continue;
      }
      if (!await(SSL_get_error(ssl_.get(), 0), socket_.limits().receive_ms, "a read of what was sent")) return false;
    }
    return true;
  }

  std::size_t receive_some(char* buffer, std::size_t room) override {
    if (!ssl_) {
      const std::size_t received = socket_.receive_some(buffer, room);
      if (received == 0) from_socket();
      return received;
    }
    for (;;) {
      if (network_waits_cancelled()) {
        fail(transport_error::cancelled, "the check was cancelled");
        return 0;
      }
      if (!socket_.before_deadline("an answer")) {
        from_socket();
        return 0;
      }
      ERR_clear_error();
      std::size_t read = 0;
      const NoSigpipe guard;  // a key update may write
      const int result = SSL_read_ex(ssl_.get(), buffer, room, &read);
      if (result == 1) return read;
      if (!await(SSL_get_error(ssl_.get(), result), socket_.limits().receive_ms, "an answer")) return 0;
    }
  }

  void close() override {
    // One close_notify if it goes at once; nothing is awaited.
    if (ssl_ && SSL_is_init_finished(ssl_.get())) {
      const NoSigpipe guard;
      SSL_shutdown(ssl_.get());
    }
    ssl_.reset();
    ctx_.reset();
    socket_.close();
  }

  bool is_open() const override { return socket_.is_open(); }
  void set_receive_wait(int ms) override { socket_.set_receive_wait(ms); }
  bool keep_alive() override { return socket_.keep_alive(); }

 private:
  bool from_socket() { return fail(socket_.error(), socket_.reason()); }

  // After an SSL call that did not finish: waits for what it wants, within
  // `timeout_ms`; false, the failure recorded, for anything else.
  bool await(int ssl_error, int timeout_ms, const char* waiting_for) {
    switch (ssl_error) {
      case SSL_ERROR_WANT_READ:
        return socket_.wait(POLLIN, timeout_ms, waiting_for) || from_socket();
      case SSL_ERROR_WANT_WRITE:
        return socket_.wait(POLLOUT, timeout_ms, waiting_for) || from_socket();
      case SSL_ERROR_ZERO_RETURN:
        return fail(transport_error::closed, socket_.peer() + " closed the connection");
      case SSL_ERROR_SYSCALL:
        return fail(transport_error::closed, socket_.peer() + " closed the connection without a TLS close");
      default:
        return fail(transport_error::tls, "TLS with " + socket_.peer() + " failed: " + openssl_error());
    }
  }

  bool make_session(const tls_trust& trust) {
    ERR_clear_error();
    ctx_.reset(SSL_CTX_new(TLS_client_method()));
    if (!ctx_ || SSL_CTX_set_min_proto_version(ctx_.get(), TLS1_2_VERSION) != 1 ||
        SSL_CTX_set_default_verify_paths(ctx_.get()) != 1)
      return fail(transport_error::io, "cannot set up TLS: " + openssl_error());
    if (!trust.cafile.empty() && SSL_CTX_load_verify_locations(ctx_.get(), trust.cafile.c_str(), nullptr) != 1)
      return fail(transport_error::tls, "cannot read the cafile " + trust.cafile + ": " + openssl_error());
    // A second handshake within the session would bring a certificate that
    // verified() never sees; a POP3 session has no use for one.
    SSL_CTX_set_options(ctx_.get(), SSL_OP_NO_RENEGOTIATION);
    // The handshake runs to its end whatever the certificate, so that the
    // reason and the fingerprint seen can be told; verified() then judges
    // it before start_tls returns, and so before any byte of the session.
    // The callback lets a refused certificate through to that judgement,
    // while a verification that could not run at all (OpenSSL failing
    // inside) still ends the handshake rather than reading as passed.
    SSL_CTX_set_verify(ctx_.get(), SSL_VERIFY_PEER, [](int, X509_STORE_CTX*) { return 1; });

    ssl_.reset(SSL_new(ctx_.get()));
    if (!ssl_ || SSL_set_fd(ssl_.get(), socket_.fd()) != 1)
      return fail(transport_error::io, "cannot set up TLS: " + openssl_error());
    const bool address = is_address(trust.host);
    const bool named = address ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_.get()), trust.host.c_str()) == 1
                               : SSL_set_tlsext_host_name(ssl_.get(), trust.host.c_str()) == 1 &&
                                     SSL_set1_host(ssl_.get(), trust.host.c_str()) == 1;
    if (!named) return fail(transport_error::tls, "cannot check certificates for the host " + trust.host);
    SSL_set_hostflags(ssl_.get(), X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    return true;
  }

  bool handshake() {
    const int limit_ms = socket_.limits().handshake_ms;
    const check_clock::time_point end = check_clock::now() + std::chrono::milliseconds(limit_ms);
    for (;;) {
      ERR_clear_error();
      const NoSigpipe guard;
      const int result = SSL_connect(ssl_.get());
      if (result == 1) return true;
      const int error = SSL_get_error(ssl_.get(), result);
      if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
        const std::string why = error == SSL_ERROR_SYSCALL || error == SSL_ERROR_ZERO_RETURN
                                    ? "the server closed the connection"
                                    : openssl_error();
        return fail(transport_error::tls, "the TLS handshake with " + socket_.peer() + " failed: " + why +
                                              " (is it a TLS port, and does it offer TLS 1.2 or later?)");
      }
      const long long left = milliseconds_until(end);
      if (limit_ms > 0 && left <= 0) return handshake_timed_out(limit_ms);
      if (!await(error, limit_ms > 0 ? static_cast<int>(left) : 0, "the TLS handshake"))
        return error_is_time_out() ? handshake_timed_out(limit_ms) : false;
    }
  }

  bool error_is_time_out() const { return error() == transport_error::timed_out; }

  bool handshake_timed_out(int limit_ms) {
    return fail(transport_error::timed_out, "the TLS handshake with " + socket_.peer() + " timed out after " +
                                                duration_text(limit_ms));
  }

  bool verified(const tls_trust& trust) {
    X509* certificate = SSL_get0_peer_certificate(ssl_.get());
    if (certificate == nullptr) return fail(transport_error::tls, socket_.peer() + " showed no certificate");
    const Fingerprint seen = fingerprint_of(certificate);
    const std::string subject = name_text(X509_get_subject_name(certificate));
    const std::string issuer = name_text(X509_get_issuer_name(certificate));
    debug_note(std::string("TLS ") + SSL_get_version(ssl_.get()) + ", cipher " + SSL_get_cipher_name(ssl_.get()));
    debug_note("certificate subject: " + subject);
    debug_note("certificate issuer: " + issuer);
    debug_note("certificate SHA-256 fingerprint: " + seen.shown);

    if (!trust.fingerprint.empty()) {
      if (!seen.digits.empty() && seen.digits == trust.fingerprint) return true;
      return fail(transport_error::tls, "the certificate of " + socket_.peer() +
                                            " is not the pinned one: its SHA-256 fingerprint is " + seen.shown);
    }
    const long result = SSL_get_verify_result(ssl_.get());
    if (result == X509_V_OK) return true;
    return fail(transport_error::tls, refusal(result, certificate, trust, seen, subject, issuer));
  }

  std::string refusal(long result, X509* certificate, const tls_trust& trust, const Fingerprint& seen,
                      const std::string& subject, const std::string& issuer) const {
    const std::string whose = "the certificate of " + socket_.peer();
    switch (result) {
      case X509_V_ERR_CERT_HAS_EXPIRED:
        return whose + " expired on " +
               printed([certificate](BIO* bio) { ASN1_TIME_print(bio, X509_get0_notAfter(certificate)); });
      case X509_V_ERR_CERT_NOT_YET_VALID:
        return whose + " is not valid until " +
               printed([certificate](BIO* bio) { ASN1_TIME_print(bio, X509_get0_notBefore(certificate)); });
      case X509_V_ERR_HOSTNAME_MISMATCH:
      case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return whose + " is not issued for " + trust.host + " (subject " + subject + ")";
      case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
      case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
      case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
      case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
      case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return whose + " has an untrusted issuer (" + issuer + "); its SHA-256 fingerprint is " + seen.shown +
               ": if that is your server's, set fingerprint or cafile for the account";
      default:
        return whose + " failed verification: " + X509_verify_cert_error_string(result);
    }
  }

  SocketTransport socket_;
  CtxPtr ctx_;
  SslPtr ssl_;
};

}  // namespace

std::unique_ptr<Transport> make_tls_transport(const transport_limits& limits) {
  return std::make_unique<TlsTransport>(limits);
}
