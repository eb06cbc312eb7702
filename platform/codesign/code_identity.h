// CodeIdentity: what the system knows about a signed program, the facts a
// code requirement is evaluated against — its signing identifier, the team
// that signed it and the kind of certificate it was signed with. A program
// with no identity is unsigned and satisfies no requirement.
//
// Plain values; thread-safe.
#pragma once

#include <compare>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace bcn {

enum class CertificateKind {
  developerID,  // distributed outside the store, signed by its team
  appStore,     // distributed through the store
};

// "developer-id" and "app-store": the names the registry file and the
// install tool use.
std::string_view certificateKindName(CertificateKind kind);
std::optional<CertificateKind> certificateKindFromName(std::string_view name);

struct CodeIdentity {
  std::string identifier;  // e.g. "com.quillbank.Beaconbar"
  std::string teamID;      // the signing team, the leaf certificate's subject OU
  CertificateKind kind = CertificateKind::developerID;

  bool operator==(const CodeIdentity&) const = default;
  auto operator<=>(const CodeIdentity&) const = default;
};

}  // namespace bcn

template <>
struct std::hash<bcn::CodeIdentity> {
  std::size_t operator()(const bcn::CodeIdentity& c) const noexcept {
    std::size_t h = std::hash<std::string>()(c.identifier);
    h = h * 31 + std::hash<std::string>()(c.teamID);
    return h * 31 + static_cast<std::size_t>(c.kind);
  }
};
