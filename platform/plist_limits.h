// Structural pre-checks run on untrusted property-list bytes before they
// reach libplist, whose parsers recurse once per nesting level and expand
// shared binary objects into copies. They look only at nesting, object
// counts and the bytes of text and data; decoding values stays libplist's
// job.
//
// Pure functions over bytes; thread-safe. Each returns an error text, or
// nothing when the input is within limits. They may reject inputs that
// libplist would also reject, never the reverse for inputs within limits.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>

namespace bcn::plist_limits {

struct BinaryBounds {
  std::size_t maxDepth;          // containers nested in one another
  std::size_t maxNodes;          // objects, counted once per reference
  std::size_t maxExpandedBytes;  // text, key and data bytes, once per reference
};

// A binary plist ("bplist00"): the trailer and offset table must be
// consistent, references must point at objects, dictionary keys must be
// strings without NUL characters, the container graph must be acyclic, at
// most `maxDepth` containers deep, and expand within `maxNodes` nodes and
// `maxExpandedBytes` bytes when shared objects are copied. A UTF-16 string
// counts three bytes per unit, what it may take as UTF-8. An offset table
// of more objects than `maxNodes` is refused before any is looked at.
//
// Each object is visited once, whatever shares it, and the walk stops at
// the first bound crossed: time and memory are linear in the input.
std::optional<std::string> checkBinary(std::span<const unsigned char> bytes, const BinaryBounds& bounds);

// An XML plist: at most `maxDepth` nested <array>/<dict> elements and at
// most `maxNodes` elements. Over-counts rather than under-counts (tags in
// comments count), which can only refuse absurd inputs.
std::optional<std::string> checkXml(std::span<const unsigned char> bytes, std::size_t maxDepth,
                                    std::size_t maxNodes);

}  // namespace bcn::plist_limits
