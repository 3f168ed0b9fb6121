#include "test_certs.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

namespace wyke_test {

namespace {

struct Free {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
  void operator()(X509* certificate) const { X509_free(certificate); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Free>;
using CertPtr = std::unique_ptr<X509, Free>;

void require(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("making test certificates: ") + what);
}

KeyPtr new_key() {
  KeyPtr key(EVP_EC_gen("P-256"));
  require(key != nullptr, "EVP_EC_gen");
  return key;
}

void add_extension(X509* certificate, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  require(extension != nullptr && X509_add_ext(certificate, extension, -1) == 1, "extension");
  X509_EXTENSION_free(extension);
}

struct Issuer {
  X509* certificate;  // nullptr: the certificate signs itself
  EVP_PKEY* key;
};

// Valid from `from_days` to `to_days` from now; `names` is a subjectAltName
// value, empty for a CA.
CertPtr make_certificate(const char* common_name, EVP_PKEY* key, Issuer issuer, long from_days, long to_days,
                         const char* names, long serial) {
  CertPtr certificate(X509_new());
  X509* c = certificate.get();
  require(c != nullptr && X509_set_version(c, X509_VERSION_3) == 1, "X509_new");
  ASN1_INTEGER_set(X509_get_serialNumber(c), serial);
  X509_gmtime_adj(X509_getm_notBefore(c), from_days * 24 * 3600);
  X509_gmtime_adj(X509_getm_notAfter(c), to_days * 24 * 3600);
  X509_NAME* subject = X509_get_subject_name(c);
  X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(common_name), -1,
                             -1, 0);
  X509* signer = issuer.certificate != nullptr ? issuer.certificate : c;
  require(X509_set_issuer_name(c, X509_get_subject_name(signer)) == 1, "issuer");
  require(X509_set_pubkey(c, key) == 1, "pubkey");
  if (*names == '\0') {
    add_extension(c, signer, NID_basic_constraints, "critical,CA:TRUE");
    add_extension(c, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    add_extension(c, signer, NID_basic_constraints, "CA:FALSE");
    add_extension(c, signer, NID_subject_alt_name, names);
    add_extension(c, signer, NID_ext_key_usage, "serverAuth");
  }
  add_extension(c, signer, NID_subject_key_identifier, "hash");
  require(X509_sign(c, issuer.key, EVP_sha256()) > 0, "X509_sign");
  return certificate;
}

void write_pem(const std::string& path, X509* certificate, EVP_PKEY* key) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  require(file != nullptr, "fopen");
  const bool ok = certificate != nullptr ? PEM_write_X509(file, certificate) == 1
                                         : PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
  std::fclose(file);
  require(ok, "PEM_write");
}

std::string fingerprint(X509* certificate) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  require(X509_digest(certificate, EVP_sha256(), digest, &length) == 1, "X509_digest");
  std::string out;
  for (unsigned int i = 0; i < length; ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%s%02X", i == 0 ? "" : ":", digest[i]);
    out += pair;
  }
  return out;
}

}  // namespace

TestCertificates::TestCertificates() {
  char pattern[] = "/tmp/wyke-certs-XXXXXX";
  require(mkdtemp(pattern) != nullptr, "mkdtemp");
  dir_ = pattern;
  empty_store_ = dir_ + "/empty.pem";
  std::ofstream(empty_store_).flush();

  const KeyPtr ca_key = new_key();
  const CertPtr ca = make_certificate("Wyke Test CA", ca_key.get(), {nullptr, ca_key.get()}, -1, 30, "", 1);
  ca_ = dir_ + "/ca.pem";
  write_pem(ca_, ca.get(), nullptr);

  const char* here = "DNS:localhost,IP:127.0.0.1,IP:::1";
  const auto leaf = [&](const char* name, Issuer issuer, long from, long to, const char* names, long serial,
                        CertFiles& out) {
    const KeyPtr key = new_key();
    const CertPtr certificate =
        make_certificate("localhost", key.get(), issuer.key != nullptr ? issuer : Issuer{nullptr, key.get()}, from,
                         to, names, serial);
    out.certificate = dir_ + "/" + name + ".pem";
    out.key = dir_ + "/" + name + ".key";
    out.fingerprint = fingerprint(certificate.get());
    write_pem(out.certificate, certificate.get(), nullptr);
    write_pem(out.key, nullptr, key.get());
  };
  const Issuer by_ca{ca.get(), ca_key.get()};
  leaf("good", by_ca, -1, 30, here, 2, good_);
  leaf("expired", by_ca, -30, -1, here, 3, expired_);
  leaf("other_host", by_ca, -1, 30, "DNS:other.example", 4, other_host_);
  leaf("self_signed", {nullptr, nullptr}, -1, 30, here, 5, self_signed_);
}

TestCertificates::~TestCertificates() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

}  // namespace wyke_test
