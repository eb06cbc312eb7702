// CodeRequirement: a code-signing requirement text, parsed, and evaluated
// against a program's CodeIdentity.
//
// The language is the subset our services' requirements use:
//   anchor apple generic                 the program is signed (any kind)
//   certificate N[field.OID]             the certificate at position N of the
//                                        chain (leaf = 0) carries field OID
//   certificate leaf[subject.OU] = "T"   the signing team is T
//   identifier "X"                       the signing identifier is X
// joined by `and`, which binds tighter than `or`, and grouped by
// parentheses. Any other clause parses but is false, so an unfamiliar
// requirement can only ever refuse. The certificate fields known are the
// store leaf marker (1.2.840.113635.100.6.1.9), the Developer ID leaf
// marker (1.2.840.113635.100.6.1.13) and the Developer ID intermediate
// marker (1.2.840.113635.100.6.2.6 at position 1).
//
// Parsing is a pure function that survives any text: malformed structure
// (unbalanced parentheses, a missing operand, an unterminated string, too
// deep or too long) is an error. Parsed requirements are immutable values,
// safe to share between threads.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codesign/code_identity.h"
#include "platform/error.h"

namespace bcn {

class CodeRequirement {
 public:
  static constexpr std::size_t kMaxTextBytes = 16 * 1024;
  static constexpr std::size_t kMaxNesting = 64;

  static std::expected<CodeRequirement, PlatformError> parse(std::string_view text);

  bool isSatisfiedBy(const CodeIdentity& identity) const;

  // The text it was parsed from.
  const std::string& text() const { return text_; }

  struct Node {
    enum class Kind { anyOf, allOf, anchorAppleGeneric, certificateField, leafSubjectOU, identifier, unknown };
    Kind kind = Kind::unknown;
    std::vector<Node> children;  // anyOf / allOf
    std::int32_t position = 0;   // certificateField: 0 = leaf, -1 = anchor
    std::string value;           // the OID, the team or the identifier

    bool operator==(const Node&) const = default;
  };

  const Node& root() const { return root_; }

 private:
  CodeRequirement(std::string text, Node root) : text_(std::move(text)), root_(std::move(root)) {}

  std::string text_;
  Node root_;
};

}  // namespace bcn
