#include "test_ca.h"

#include <fstream>
#include <vector>

#include "programs.h"

namespace wyke_test {

bool make_test_certificates(const std::string& dir, const std::string& host, TestCertificates& made,
                            std::string& error) {
  const std::string openssl = find_program("openssl");
  if (openssl.empty()) {
    error = "no openssl command on PATH";
    return false;
  }
  const std::string ca_key = dir + "/ca.key", request = dir + "/server.csr", extensions = dir + "/server.ext";
  made = {dir + "/ca.crt", dir + "/server.crt", dir + "/server.key"};
  {
    std::ofstream ext(extensions);
    ext << "subjectAltName = DNS:" << host << "\nextendedKeyUsage = serverAuth\n";
  }
  // P-256 keys: made in milliseconds, where RSA keys would slow every run.
  const std::vector<std::vector<std::string>> steps = {
      {openssl, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
       ca_key, "-out", made.ca_file, "-days", "2", "-subj", "/CN=Wyke throw-away test CA", "-addext",
       "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"},
      {openssl, "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
       made.server_key, "-out", request, "-subj", "/CN=" + host},
      {openssl, "x509", "-req", "-in", request, "-CA", made.ca_file, "-CAkey", ca_key, "-CAcreateserial", "-out",
       made.server_cert, "-days", "2", "-extfile", extensions},
  };
  for (const auto& step : steps) {
    std::string output;
    if (!run_program(step, output)) {
      error = "openssl " + step[1] + " failed: " + output;
      return false;
    }
  }
  return true;
}

}  // namespace wyke_test
