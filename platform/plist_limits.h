// Structural pre-checks run on untrusted property-list bytes before they
// reach libplist, whose parsers recurse once per nesting level and expand
// shared binary objects into copies. They look only at nesting and object
// counts; decoding values stays libplist's job.
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

// A binary plist ("bplist00"): the trailer and offset table must be
// consistent, references must point at objects, dictionary keys must be
// strings without NUL characters, the container graph must be acyclic, at most `maxDepth` containers deep, and expand to at most
// `maxNodes` nodes when shared objects are copied.
std::optional<std::string> checkBinary(std::span<const unsigned char> bytes, std::size_t maxDepth,
                                       std::size_t maxNodes);

// An XML plist: at most `maxDepth` nested <array>/<dict> elements and at
// most `maxNodes` elements. Over-counts rather than under-counts (tags in
// comments count), which can only refuse absurd inputs.
std::optional<std::string> checkXml(std::span<const unsigned char> bytes, std::size_t maxDepth,
                                    std::size_t maxNodes);

}  // namespace bcn::plist_limits
