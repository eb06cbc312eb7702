// PairingStore: the daemon's persistent record of which apps are paired.
// A pairing binds a random token, handed once to an app, to the user id
// the app runs under; only the token's SHA-256 digest is kept.
//
// The file ("pairings.plist" in the store's directory) is a binary property
// list: an array with one dictionary per pairing, keys "digest" (data),
// "uid" (integer) and "created" (date), in creation order. It is read once,
// by load(), and rewritten whole and atomically after every change, owned
// by the configured owner (root in the daemon) with mode 0600 in a
// directory created with mode 0700.
//
// Not thread-safe: the daemon touches it only under AdminDaemon's lock,
// which also serialises the file replacement.
#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/crypto.h"
#include "platform/date.h"
#include "platform/error.h"

namespace bcn {

class PairingStore {
 public:
  struct Pairing {
    std::vector<std::uint8_t> digest;  // 32 bytes when written by this program
    std::uint32_t uid = 0;
    Date created;

    bool operator==(const Pairing&) const = default;
  };

  // Source of the token bytes; replaceable so tests can make it fail.
  using RandomSource = std::function<std::expected<std::vector<std::uint8_t>, PlatformError>(std::size_t)>;

  struct Options {
    std::filesystem::path directory;
    std::uint32_t ownerUID = 0;  // owner of the written file
    std::uint32_t ownerGID = 0;
    RandomSource random = crypto::secureRandomBytes;
  };

  static constexpr std::string_view kFileName = "pairings.plist";
  static constexpr std::size_t kTokenBytes = 32;
  // Far above any real store; a larger file is treated as unreadable.
  static constexpr std::size_t kMaxFileBytes = 16u << 20;

  // $STATE_DIRECTORY when systemd sets it, else /var/lib/beaconbar-admin.
  static std::filesystem::path defaultDirectory();

  // An empty store writing to `options.directory`.
  explicit PairingStore(Options options);

  // The store in `options.directory`. Never fails: a missing, unreadable or
  // malformed file, or anything but a regular file (a symbolic link
  // included), gives an empty store. A regular file that cannot be used is
  // renamed to "pairings.plist.unreadable" (or "…-2" and so on) so that the
  // next save does not destroy it; loadProblem() then says what happened.
  // Anything else in the file's place stays until the next save replaces it.
  static PairingStore load(Options options);

  // Why load() found no usable file where there was one, and where that
  // file went, as one sentence for the log; nothing when the file was fine
  // or absent.
  const std::optional<std::string>& loadProblem() const { return loadProblem_; }

  // The pairings a file holds, or nothing when any part of it is malformed:
  // not a property list, not an array, or any element lacking "digest"
  // (data), "uid" (integer within 0…2^32−1) or "created" (date). Other keys
  // are ignored.
  static std::optional<std::vector<Pairing>> decode(std::span<const std::uint8_t> bytes);

  // SHA-256 of the token's UTF-8 bytes.
  static crypto::Sha256Digest digest(std::string_view token);

  std::filesystem::path fileURL() const { return options_.directory / kFileName; }
  const std::vector<Pairing>& pairings() const { return pairings_; }

  // Whether `token` pairs `uid`. Compares against every pairing of that user
  // in constant time per pairing and never stops at a match, so the time
  // taken does not reveal which pairing matched.
  bool isPaired(std::string_view token, std::uint32_t uid) const { return pairs(pairings_, token, uid); }
  // The same over any list of pairings (a copy of pairings(), say).
  static bool pairs(std::span<const Pairing> pairings, std::string_view token, std::uint32_t uid);

  // Records a new pairing for `uid` and saves; returns the token: 32 random
  // bytes in standard Base64, 44 characters. A random-generator failure is
  // the Cocoa error 512 and changes nothing; a save failure is returned
  // with the pairing kept in memory (the next successful save writes it).
  std::expected<std::string, PlatformError> pair(std::uint32_t uid);

  // Drops every pairing of `uid` whose digest matches `token`, keeping the
  // order of the rest, and saves when it removed one. A token that pairs
  // nothing writes nothing (any user may send one at will), unless an
  // earlier save failed or the file has not been written since it was found
  // missing or unusable: then this one writes it.
  // Returns whether a pairing was removed.
  std::expected<bool, PlatformError> unpair(std::string_view token, std::uint32_t uid);

  // Drops every pairing and saves.
  std::expected<void, PlatformError> removeAll();

 private:
  // Creates the directory chain (0700), writes the file atomically, then
  // sets mode 0600 and the owner. On failure the previous file is intact,
  // except after the last step, when the new content is already in place.
  // Writes and records whether the file now holds what memory does.
  std::expected<void, PlatformError> save();
  std::expected<void, PlatformError> write() const;

  Options options_;
  // The file may not hold what memory does: nothing written yet, the file
  // was unusable at load, or the last save failed.
  bool unsaved_ = true;
  std::vector<Pairing> pairings_;
  std::optional<std::string> loadProblem_;
};

}  // namespace bcn
