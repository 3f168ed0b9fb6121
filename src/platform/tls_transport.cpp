#include "platform/tls_transport.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "platform/debug_log.h"
#include "platform/sockets.h"
#include "platform/tls_context.h"
#include "platform/untrusted_text.h"

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
  return printable_ascii(printed([name](BIO* bio) { X509_NAME_print_ex(bio, name, 0, XN_FLAG_ONELINE); }),
                         max_name_text);
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

// The BIO under a TLS session: its reads and writes are those of the plain
// transport below, so that its waits, the check's deadline, the network
// cancel and its MSG_NOSIGNAL apply to TLS as they do to plain text. It
// blocks as they do, and so never asks OpenSSL to retry.
int bio_write(BIO* bio, const char* data, std::size_t size, std::size_t* written) {
  BIO_clear_retry_flags(bio);
  const bool sent = static_cast<SocketTransport*>(BIO_get_data(bio))->send_all({data, size});
  *written = sent ? size : 0;
  return sent ? 1 : 0;
}

int bio_read(BIO* bio, char* data, std::size_t size, std::size_t* read) {
  BIO_clear_retry_flags(bio);
  *read = size == 0 ? 0 : static_cast<SocketTransport*>(BIO_get_data(bio))->receive_some(data, size);
  return *read > 0 ? 1 : 0;
}

// Writes go out at once, so a flush has nothing left to do.
long bio_ctrl(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

int bio_create(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

// Made once for the process, on the first thread that needs it.
const BIO_METHOD* transport_bio_method() {
  static BIO_METHOD* const method = [] {
    BIO_METHOD* made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "wyke transport");
    if (made != nullptr && (BIO_meth_set_write_ex(made, bio_write) != 1 || BIO_meth_set_read_ex(made, bio_read) != 1 ||
                            BIO_meth_set_ctrl(made, bio_ctrl) != 1 || BIO_meth_set_create(made, bio_create) != 1)) {
      BIO_meth_free(made);
      made = nullptr;
    }
    return made;
  }();
  return method;
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

  // Reading the system's trust store takes tens of milliseconds on a first
  // check, more on a busy machine: done before the connection, the server
  // sees the ClientHello as soon as it accepts.
  bool prepare_tls(const tls_trust& trust) override {
    if (ctx_ && prepared_cafile_ == trust.cafile) return true;
    clear_failure();
    return make_context(trust);
  }

  bool start_tls(const tls_trust& trust) override {
    clear_failure();
    if (!socket_.is_open()) return fail(transport_error::io, "not connected");
    if (ssl_) return fail(transport_error::tls, "TLS is already on");
    if (prepare_tls(trust) && make_session(trust) && handshake() && verified(trust)) return true;
    close();
    return false;
  }

  bool send_all(std::string_view bytes) override {
    if (!ssl_) return socket_.send_all(bytes) || from_socket();
    while (!bytes.empty()) {
      ERR_clear_error();
      std::size_t written = 0;
      const int result = SSL_write_ex(ssl_.get(), bytes.data(), bytes.size(), &written);
      if (result != 1) return failed(SSL_get_error(ssl_.get(), result));
      bytes.remove_prefix(written);
    }
    return true;
  }

  std::size_t receive_some(char* buffer, std::size_t room) override {
    if (!ssl_) {
      const std::size_t received = socket_.receive_some(buffer, room);
      if (received == 0) from_socket();
      return received;
    }
    ERR_clear_error();
    std::size_t read = 0;
    const int result = SSL_read_ex(ssl_.get(), buffer, room, &read);
    if (result == 1) return read;
    failed(SSL_get_error(ssl_.get(), result));
    return 0;
  }

  void close() override {
    // One close_notify if it goes at once; nothing is awaited.
    if (ssl_ && SSL_is_init_finished(ssl_.get())) {
      const transport_limits session = socket_.limits();
      transport_limits at_once = session;
      at_once.deadline = check_clock::now();
      socket_.set_limits(at_once);
      SSL_shutdown(ssl_.get());
      socket_.set_limits(session);
    }
    ssl_.reset();
    socket_.close();
  }

  bool is_open() const override { return socket_.is_open(); }
  void set_receive_wait(int ms) override { socket_.set_receive_wait(ms); }
  bool keep_alive() override { return socket_.keep_alive(); }

 private:
  bool from_socket() { return fail(socket_.error(), socket_.reason()); }

  // After an SSL call that failed: the transport below tells why when it
  // failed itself (a time-out, the deadline, a cancel), and a peer that
  // went away is told as such.
  bool failed(int ssl_error) {
    if (ssl_error == SSL_ERROR_ZERO_RETURN)
      return fail(transport_error::closed, socket_.peer() + " closed the connection");
    if (socket_.error() != transport_error::none && socket_.error() != transport_error::closed) return from_socket();
    if (socket_.error() == transport_error::closed || ssl_error == SSL_ERROR_SYSCALL)
      return fail(transport_error::closed, socket_.peer() + " closed the connection without a TLS close");
    return fail(transport_error::tls, "TLS with " + socket_.peer() + " failed: " + openssl_error());
  }

  // The context of every session of this transport: the trust store and
  // `trust`'s cafile, the protocol floor, the verification.
  bool make_context(const tls_trust& trust) {
    ERR_clear_error();
    ctx_.reset();
    tls_context shared = shared_tls_context(trust.cafile);
    if (shared.ctx == nullptr) return fail(shared.cafile_unreadable ? transport_error::tls : transport_error::io, shared.why);
    ctx_.reset(shared.ctx);
    prepared_cafile_ = trust.cafile;
    return true;
  }

  // The session over the connection, for `trust`'s host.
  bool make_session(const tls_trust& trust) {
    ERR_clear_error();
    ssl_.reset(SSL_new(ctx_.get()));
    const BIO_METHOD* method = transport_bio_method();
    BIO* bio = ssl_ && method != nullptr ? BIO_new(method) : nullptr;
    if (bio == nullptr) return fail(transport_error::io, "cannot set up TLS: " + openssl_error());
    BIO_set_data(bio, &socket_);
    SSL_set_bio(ssl_.get(), bio, bio);
    const bool address = is_address(trust.host);
    const bool named = address ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_.get()), trust.host.c_str()) == 1
                               : SSL_set_tlsext_host_name(ssl_.get(), trust.host.c_str()) == 1 &&
                                     SSL_set1_host(ssl_.get(), trust.host.c_str()) == 1;
    if (!named) return fail(transport_error::tls, "cannot check certificates for the host " + trust.host);
    SSL_set_hostflags(ssl_.get(), X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    return true;
  }

  // The whole handshake within the handshake's own bound, which stands in
  // for the per-receive one while it runs.
  bool handshake() {
    const transport_limits session = socket_.limits();
    const check_clock::time_point end = deadline_after(session.handshake_ms);
    transport_limits during = session;
    during.receive_ms = 0;
    during.deadline = std::min(session.deadline, end);
    socket_.set_limits(during);
    ERR_clear_error();
    const int result = SSL_connect(ssl_.get());
    socket_.set_limits(session);
    if (result == 1) return true;
    const int error = SSL_get_error(ssl_.get(), result);
    if (socket_.error() == transport_error::deadline && end <= session.deadline)
      return handshake_timed_out(session.handshake_ms);
    if (socket_.error() != transport_error::none && socket_.error() != transport_error::closed) return from_socket();
    const bool gone = socket_.error() == transport_error::closed || error == SSL_ERROR_SYSCALL ||
                      error == SSL_ERROR_ZERO_RETURN;
    return fail(transport_error::tls, "the TLS handshake with " + socket_.peer() + " failed: " +
                                          (gone ? "the server closed the connection" : openssl_error()) +
                                          " (is it a TLS port, and does it offer TLS 1.2 or later?)");
  }

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
    // Every refusal names the certificate seen, for the user to compare
    // with the server's own.
    const std::string its = "; its SHA-256 fingerprint is " + seen.shown;
    switch (result) {
      case X509_V_ERR_CERT_HAS_EXPIRED:
        return whose + " expired on " +
               printed([certificate](BIO* bio) { ASN1_TIME_print(bio, X509_get0_notAfter(certificate)); }) + its;
      case X509_V_ERR_CERT_NOT_YET_VALID:
        return whose + " is not valid until " +
               printed([certificate](BIO* bio) { ASN1_TIME_print(bio, X509_get0_notBefore(certificate)); }) + its;
      case X509_V_ERR_HOSTNAME_MISMATCH:
      case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return whose + " is not issued for " + trust.host + " (subject " + subject + ")" + its;
      case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
      case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
      case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
      case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
      case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return whose + " has an untrusted issuer (" + issuer + ")" + its +
               ": if that is your server's, set fingerprint or cafile for the account";
      default:
        return whose + " failed verification: " + X509_verify_cert_error_string(result) + its;
    }
  }

  SocketTransport socket_;
  CtxPtr ctx_;  // kept from one connection to the next
  std::string prepared_cafile_;  // the cafile ctx_ holds, when there is one
  SslPtr ssl_;
};

}  // namespace

std::unique_ptr<Transport> make_tls_transport(const transport_limits& limits) {
  return std::make_unique<TlsTransport>(limits);
}
