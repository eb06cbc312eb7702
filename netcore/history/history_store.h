// HistoryStore: keeps the traffic histories of all interfaces in one file
// so they survive a restart. The file is a binary property list whose root
// dictionary maps each history key (chosen by the client, one per
// interface) to the coded form of its RateHistory (history_coding.h); the
// layout is written down in docs/history-file.md.
//
// Only histories with traffic are written. Saving creates the missing
// directories (mode 0755) and replaces the file atomically (mode 0644), so
// a reader sees the old file or the new one, and a failed save leaves the
// old file intact. Loading never fails: a missing, unreadable, oversized,
// foreign or corrupt file reads as an empty map, and nothing is pruned or
// re-shaped on the way in.
//
// A value holding only the file location; no mutable state, callable from
// any thread. Concurrent saves to one location are not coordinated beyond
// the atomic replacement: the last rename wins.
#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <map>
#include <span>
#include <string>
#include <utility>

#include "netcore/export.h"
#include "netcore/history/rate_history.h"
#include "platform/error.h"
#include "platform/plist.h"

namespace bcn {

using HistoryMap = std::map<std::string, RateHistory>;

// The file's bytes for `histories`, leaving out those without traffic.
// Fails when a key cannot be encoded (it contains a NUL byte).
NETCORE_EXPORT std::expected<PlistData, PlatformError> encodeHistoryFile(const HistoryMap& histories);

// The map stored in `bytes`; any fault in the bytes or their shape is an
// error for the whole file.
NETCORE_EXPORT std::expected<HistoryMap, PlatformError> decodeHistoryFile(std::span<const std::uint8_t> bytes);

class NETCORE_EXPORT HistoryStore {
 public:
  // Stores the location; touches nothing on disk.
  explicit HistoryStore(std::filesystem::path url) : url_(std::move(url)) {}

  const std::filesystem::path& url() const { return url_; }

  // Encoding, directory-creation and write errors come back unchanged, and
  // a failure at any step leaves the previous file as it was.
  std::expected<void, PlatformError> save(const HistoryMap& histories) const;

  HistoryMap load() const;

  bool operator==(const HistoryStore&) const = default;

 private:
  std::filesystem::path url_;
};

}  // namespace bcn

template <>
struct NETCORE_EXPORT std::hash<bcn::HistoryStore> {
  std::size_t operator()(const bcn::HistoryStore& s) const noexcept {
    return std::filesystem::hash_value(s.url());
  }
};
