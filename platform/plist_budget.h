// Decoding property lists from people who may be hostile, within a budget
// fitted to what the caller expects to read: an IPC call is a handful of
// nodes, an application's Info.plist a few hundred, a history file
// millions. decodePlist (plist.h) decodes within the limits of the files
// the system keeps itself; this header tightens them.
//
// The budget is checked over the raw bytes before anything is built, so a
// refusal costs time linear in the input and no more memory than a small
// table per object. Pure functions; thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>

#include "platform/error.h"
#include "platform/plist.h"

namespace bcn {

// What one decode may cost: the input size, the nesting, and the nodes and
// text/data bytes the value expands to when every shared object is counted
// once per reference (a string referred to 10,000 times counts 10,000
// times). XML has no shared objects and its text only shrinks when decoded
// (libplist 2.2 knows no entity but the five predefined ones and character
// references), so its cost is bounded by the input size and the element
// count. The defaults are those of decodePlist without a budget, for the
// files the system keeps.
struct PlistBudget {
  // Text, key and data bytes a file of PlistLimits::kMaxBytes may expand
  // to: about its own size when it shares nothing, with room for keys
  // repeated across many dictionaries.
  static constexpr std::size_t kMaxFileExpandedBytes = 2 * PlistLimits::kMaxBytes;
  // Nodes of such a file: a quarter of PlistLimits::kMaxNodes, since
  // libplist builds about a million nodes a second under the sanitizers and
  // a couple of hundred bytes can ask for any number of them. The largest
  // file the system keeps, a pairing file of 100,000 pairings, needs 700,000.
  static constexpr std::size_t kMaxFileNodes = PlistLimits::kMaxNodes / 4;

  std::size_t maxInputBytes = PlistLimits::kMaxBytes;
  std::size_t maxDepth = PlistLimits::kMaxDepth;  // never more than PlistLimits::kMaxDepth
  std::size_t maxNodes = kMaxFileNodes;
  std::size_t maxExpandedBytes = kMaxFileExpandedBytes;
  std::size_t maxXmlElements = PlistLimits::kMaxXmlElements;
};

// decodePlist within `budget`; an input beyond it is an error naming the
// bound it crossed.
std::expected<PlistValue, PlatformError> decodePlistWithin(std::span<const std::uint8_t> bytes,
                                                           const PlistBudget& budget);

}  // namespace bcn
