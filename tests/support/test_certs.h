// Certificates made at test time, never kept: a throw-away CA and leaves
// that a TLS test server shows, written as PEM files into a folder of their
// own that goes with the object.
#pragma once

#include <string>

namespace wyke_test {

// One certificate and its key, as files, with its SHA-256 fingerprint as
// `openssl x509 -fingerprint -sha256` prints it ("AB:CD:...").
struct CertFiles {
  std::string certificate;
  std::string key;
  std::string fingerprint;
};

class TestCertificates {
 public:
  // Everything below is made here (EC P-256 keys, so it takes milliseconds).
  TestCertificates();
  ~TestCertificates();  // removes the folder
  TestCertificates(const TestCertificates&) = delete;
  TestCertificates& operator=(const TestCertificates&) = delete;

  const std::string& ca() const { return ca_; }  // the CA's certificate
  // Issued by the CA for localhost, 127.0.0.1 and ::1, valid now.
  const CertFiles& good() const { return good_; }
  // The same names, but its time ended yesterday.
  const CertFiles& expired() const { return expired_; }
  // Valid now, issued by the CA for other.example only.
  const CertFiles& other_host() const { return other_host_; }
  // Valid now for the same names as good(), signed by itself.
  const CertFiles& self_signed() const { return self_signed_; }
  // An empty trust store, for SSL_CERT_FILE when the system's must not count.
  const std::string& empty_store() const { return empty_store_; }

 private:
  std::string dir_;
  std::string ca_;
  std::string empty_store_;
  CertFiles good_, expired_, other_host_, self_signed_;
};

}  // namespace wyke_test
