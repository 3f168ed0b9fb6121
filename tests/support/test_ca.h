// Certificates made at test time with the openssl command: a throw-away
// certificate authority and a server certificate it signed. Nothing of it is
// ever committed, and the CA's key dies with the test's folder.
#pragma once

#include <string>

namespace wyke_test {

struct TestCertificates {
  std::string ca_file;      // the CA's certificate, PEM: what a client trusts
  std::string server_cert;  // the server's certificate, PEM, for `host` (DNS name)
  std::string server_key;   // its private key, PEM
};

// Makes them in `dir` (which must exist), valid for two days. False, with
// the openssl output in `error`, when the command is missing or fails.
bool make_test_certificates(const std::string& dir, const std::string& host, TestCertificates& made,
                            std::string& error);

}  // namespace wyke_test
