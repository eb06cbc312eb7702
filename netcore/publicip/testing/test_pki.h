// TestPKI: a throw-away certificate authority for tests and benchmarks that
// need a TLS server the client will trust. Made fresh in memory (EC P-256,
// SHA-256) each time; its certificate can be written to a file for
// SSL_CERT_FILE. Test-only code; not thread-safe.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace bcn::testing {

struct ServerIdentity {
  std::shared_ptr<EVP_PKEY> key;
  std::shared_ptr<X509> certificate;
};

class TestPKI {
 public:
  // Throws std::runtime_error when OpenSSL fails.
  TestPKI();

  // A server certificate signed by this authority whose subject alternative
  // names are `dnsNames` and `ipAddresses` (text form, e.g. "::1").
  ServerIdentity issue(const std::vector<std::string>& dnsNames,
                       const std::vector<std::string>& ipAddresses) const;

  // The authority's certificate in PEM form, for a trust store file.
  std::string certificatePEM() const;
  void writeCertificate(const std::filesystem::path& path) const;

 private:
  std::shared_ptr<EVP_PKEY> key_;
  std::shared_ptr<X509> certificate_;
};

}  // namespace bcn::testing
