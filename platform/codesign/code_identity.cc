#include "platform/codesign/code_identity.h"

namespace bcn {

std::string_view certificateKindName(CertificateKind kind) {
  return kind == CertificateKind::appStore ? "app-store" : "developer-id";
}

std::optional<CertificateKind> certificateKindFromName(std::string_view name) {
  if (name == "developer-id") return CertificateKind::developerID;
  if (name == "app-store") return CertificateKind::appStore;
  return std::nullopt;
}

}  // namespace bcn
