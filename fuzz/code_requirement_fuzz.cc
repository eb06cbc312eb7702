// Requirement texts: whatever parses must evaluate without fault against
// identities built from the same bytes, and parsing must be deterministic.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/codesign/code_requirement.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace bcn;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto requirement = CodeRequirement::parse(text);
  if (!requirement) return 0;
  auto again = CodeRequirement::parse(text);
  if (!again || !(again->root() == requirement->root())) std::abort();
  const std::string_view half = text.substr(0, size / 2);
  for (CertificateKind kind : {CertificateKind::developerID, CertificateKind::appStore}) {
    (void)requirement->isSatisfiedBy(CodeIdentity{std::string(half), std::string(text.substr(size / 2)), kind});
    (void)requirement->isSatisfiedBy(CodeIdentity{"com.quillbank.Beaconbar", "QB4TEAM123", kind});
  }
  return 0;
}
