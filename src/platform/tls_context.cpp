#include "platform/tls_context.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace {

// More distinct trusts than accounts anyone has: past it the kept ones are
// dropped, so that memory stays bounded whatever the accounts file says.
constexpr std::size_t max_kept = 16;
// What one read from the socket may take in: a few full TLS records.
constexpr std::size_t read_buffer_bytes = 64 * 1024;

// A file as it is now: its path and what changes when it is rewritten.
std::string file_state(const std::string& path) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0) return path + "\n-\n";
  return path + "\n" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" +
         std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
         std::to_string(st.st_mtim.tv_nsec) + "\n";
}

std::string from_environment(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  return value != nullptr ? value : fallback;
}

// Everything a context's trust was read from. The certificate folder is
// looked into at each verification, so its path alone counts.
std::string trust_key(const std::string& cafile) {
  return file_state(from_environment(X509_get_default_cert_file_env(), X509_get_default_cert_file())) +
         from_environment(X509_get_default_cert_dir_env(), X509_get_default_cert_dir()) + "\n" + file_state(cafile);
}

tls_context made(const std::string& cafile) {
  ERR_clear_error();
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  tls_context out;
  if (ctx == nullptr || SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION) != 1 ||
      SSL_CTX_set_default_verify_paths(ctx) != 1) {
    out.why = "cannot set up TLS: " + openssl_error();
  } else if (!cafile.empty() && SSL_CTX_load_verify_locations(ctx, cafile.c_str(), nullptr) != 1) {
    out.cafile_unreadable = true;
    out.why = "cannot read the cafile " + cafile + ": " + openssl_error();
  }
  if (!out.why.empty()) {
    SSL_CTX_free(ctx);
    return out;
  }
  // A second handshake within the session would bring a certificate that
  // the transport's verification never sees; a mail session has no use for one.
  SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION);
  // Records are read as many at a time as the socket holds, not each in
  // two reads (its header, then its body): a long listing is thousands.
  SSL_CTX_set_read_ahead(ctx, 1);
  SSL_CTX_set_default_read_buffer_len(ctx, read_buffer_bytes);
  // The handshake runs to its end whatever the certificate, so that the
  // reason and the fingerprint seen can be told; the transport then judges
  // it before start_tls returns, and so before any byte of the session.
  // The callback lets a refused certificate through to that judgement,
  // while a verification that could not run at all (OpenSSL failing
  // inside) still ends the handshake rather than reading as passed.
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, [](int, X509_STORE_CTX*) { return 1; });
  out.ctx = ctx;
  return out;
}

}  // namespace

std::string openssl_error() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "no reason given";
  if (ERR_SYSTEM_ERROR(code)) return std::strerror(ERR_GET_REASON(code));
  const char* reason = ERR_reason_error_string(code);
  return reason != nullptr ? reason : "error " + std::to_string(code);
}

tls_context shared_tls_context(const std::string& cafile) {
  static std::mutex mutex;
  // Kept to the process's end, and freed then, so that what a leak check
  // finds at exit is a leak; a session still running holds its own reference.
  static std::map<std::string, std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)>> kept;
  const std::string key = trust_key(cafile);
  std::lock_guard lock(mutex);
  auto found = kept.find(key);
  if (found == kept.end()) {
    tls_context fresh = made(cafile);
    if (fresh.ctx == nullptr) return fresh;
    if (kept.size() >= max_kept) kept.clear();
    found = kept.emplace(key, std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)>(fresh.ctx, &SSL_CTX_free)).first;
  }
  SSL_CTX_up_ref(found->second.get());
  return {found->second.get(), false, {}};
}
