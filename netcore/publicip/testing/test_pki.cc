#include "netcore/publicip/testing/test_pki.h"

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <fstream>
#include <stdexcept>

#include <unistd.h>

namespace bcn::testing {
namespace {

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("TestPKI: ") + what + " failed");
}

std::shared_ptr<EVP_PKEY> newKey() {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  check(key != nullptr, "EVP_EC_gen");
  return {key, EVP_PKEY_free};
}

void addExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
  check(extension != nullptr, "X509V3_EXT_conf_nid");
  const int added = X509_add_ext(certificate, extension, -1);
  X509_EXTENSION_free(extension);
  check(added == 1, "X509_add_ext");
}

// A certificate for `key` named `commonName`, valid from an hour ago for a
// day, signed by `issuerKey`: a CA when `issuer` is null (self-signed),
// else a server certificate with `altNames` ("DNS:x,IP:y") if not empty.
std::shared_ptr<X509> newCertificate(EVP_PKEY* key, const std::string& commonName, X509* issuer,
                                     EVP_PKEY* issuerKey, const std::string& altNames = {}) {
  static std::atomic<long> serial{1};
  std::shared_ptr<X509> certificate(X509_new(), X509_free);
  X509* c = certificate.get();
  check(c != nullptr, "X509_new");
  check(X509_set_version(c, 2) == 1, "X509_set_version");
  check(ASN1_INTEGER_set(X509_get_serialNumber(c), serial++) == 1, "serial");
  check(X509_gmtime_adj(X509_getm_notBefore(c), -3600) != nullptr, "notBefore");
  check(X509_gmtime_adj(X509_getm_notAfter(c), 86400) != nullptr, "notAfter");
  check(X509_set_pubkey(c, key) == 1, "X509_set_pubkey");
  X509_NAME* name = X509_get_subject_name(c);
  check(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>(commonName.c_str()), -1,
                                   -1, 0) == 1,
        "subject");
  X509* signer = issuer != nullptr ? issuer : c;
  check(X509_set_issuer_name(c, X509_get_subject_name(signer)) == 1, "issuer");
  if (issuer == nullptr) {
    addExtension(c, signer, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(c, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    addExtension(c, signer, NID_basic_constraints, "critical,CA:FALSE");
    addExtension(c, signer, NID_ext_key_usage, "serverAuth");
    if (!altNames.empty()) addExtension(c, signer, NID_subject_alt_name, altNames);
  }
  check(X509_sign(c, issuerKey, EVP_sha256()) > 0, "X509_sign");
  return certificate;
}

}  // namespace

TestPKI::TestPKI() : key_(newKey()) {
  // A name of its own, so that two authorities are never mistaken for
  // each other when a chain is built.
  static std::atomic<int> instances{0};
  const std::string name = "Beaconbar Test CA " + std::to_string(::getpid()) + "-" +
                           std::to_string(++instances);
  certificate_ = newCertificate(key_.get(), name, nullptr, key_.get());
}

ServerIdentity TestPKI::issue(const std::vector<std::string>& dnsNames,
                              const std::vector<std::string>& ipAddresses) const {
  std::string names;
  for (const auto& name : dnsNames) names += (names.empty() ? "DNS:" : ",DNS:") + name;
  for (const auto& ip : ipAddresses) names += (names.empty() ? "IP:" : ",IP:") + ip;
  ServerIdentity identity{newKey(), nullptr};
  const std::string commonName = dnsNames.empty() ? "test server" : dnsNames.front();
  identity.certificate =
      newCertificate(identity.key.get(), commonName, certificate_.get(), key_.get(), names);
  return identity;
}

std::string TestPKI::certificatePEM() const {
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
  check(bio != nullptr && PEM_write_bio_X509(bio.get(), certificate_.get()) == 1, "PEM_write");
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(size));
}

void TestPKI::writeCertificate(const std::filesystem::path& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << certificatePEM();
  check(static_cast<bool>(out.flush()), "writing the certificate");
}

}  // namespace bcn::testing
