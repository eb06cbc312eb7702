// A bundle's information dictionary (its Info.plist), for naming programs
// after the application they belong to. Works for any directory laid out
// as a bundle. Stateless and thread-safe; reads the file on every call.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>

#include "platform/plist.h"
#include "platform/plist_budget.h"

namespace bcn {

// Information dictionaries are a few kilobytes; anything far larger is
// not one, and is not worth reading on behalf of a scan, which may read one
// for each of hundreds of tunnels.
inline constexpr std::size_t kMaxBundleInfoBytes = 64u << 10;
// What decoding one may cost: a few hundred entries in practice.
inline constexpr PlistBudget kBundleInfoBudget{.maxInputBytes = kMaxBundleInfoBytes,
                                               .maxDepth = 16,
                                               .maxNodes = 2048,
                                               .maxExpandedBytes = 128u << 10,
                                               .maxXmlElements = 2048};

// The information dictionary of the bundle directory `bundle`:
// Contents/Info.plist when the bundle has a Contents directory (the
// application layout), otherwise Info.plist at its top (the flat layout).
// Absent when `bundle` is not a directory, the way to the file passes
// through a symbolic link (in `bundle` or inside it), the file is missing,
// not a regular file, larger than kMaxBundleInfoBytes, belongs to someone
// other than the bundle directory's owner, or is not a property list whose
// root is a dictionary within kBundleInfoBudget.
std::optional<PlistDictionary> readBundleInfo(const std::filesystem::path& bundle);

}  // namespace bcn
