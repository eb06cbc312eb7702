// The code-identity registry: the root-owned file, written at install time,
// that says which executables are which signed programs. Each entry binds an
// executable path and the SHA-256 of its content to a CodeIdentity, so a
// program counts as signed only while it sits where it was installed,
// unchanged.
//
// The file is a binary property list:
//   {"executables": [{"path": text, "sha256": data (32 bytes),
//                     "identifier": text, "teamID": text,
//                     "certificate": "developer-id" | "app-store"}, ...]}
//
// Decoding and lookup are pure and thread-safe. loadRegistry trusts a file
// only when it and its directory are owned by root and writable by no one
// else; anything else is refused, so a user cannot vouch for their own code.
#pragma once

#include <expected>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/codesign/code_identity.h"
#include "platform/crypto.h"
#include "platform/error.h"

struct stat;

namespace bcn {

struct RegisteredExecutable {
  std::string path;
  crypto::Sha256Digest sha256{};
  CodeIdentity identity;

  bool operator==(const RegisteredExecutable&) const = default;
};

struct CodeIdentityRegistry {
  static constexpr std::size_t kMaxFileBytes = 4u << 20;
  static constexpr const char* kFileName = "code-identities.plist";

  std::vector<RegisteredExecutable> executables;

  // The identity recorded for this exact path and content, if any.
  std::optional<CodeIdentity> lookup(std::string_view path, const crypto::Sha256Digest& sha256) const;

  // Adds `entry`, replacing whatever was recorded for its path before (an
  // upgrade installs new content under the old name).
  void record(RegisteredExecutable entry);

  bool operator==(const CodeIdentityRegistry&) const = default;
};

// Fails on anything but the shape above: a registry with one bad entry is
// not half trusted.
std::expected<CodeIdentityRegistry, PlatformError> decodeRegistry(std::span<const std::uint8_t> bytes);
std::expected<std::vector<std::uint8_t>, PlatformError> encodeRegistry(const CodeIdentityRegistry& registry);

// $CONFIGURATION_DIRECTORY (its first entry, as systemd may list several),
// or /etc/beaconbar, joined with kFileName. Read at each call.
std::filesystem::path defaultRegistryPath();

// Owned by root and writable by no other user or group.
bool isRootControlled(const struct stat& status);

// Reads and decodes the registry at `path`, refusing it (EPERM) unless the
// file and its directory are root-controlled.
std::expected<CodeIdentityRegistry, PlatformError> loadRegistry(const std::filesystem::path& path);

// Writes `registry` to `path` atomically, mode 0644, creating the directory
// (0755) when missing.
std::expected<void, PlatformError> saveRegistry(const std::filesystem::path& path,
                                                const CodeIdentityRegistry& registry);

}  // namespace bcn
