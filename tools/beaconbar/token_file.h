// The pairing token the admin daemon handed to this user's beaconbar, kept
// in $XDG_CONFIG_HOME/beaconbar/token (~/.config/beaconbar/token when
// XDG_CONFIG_HOME is unset, empty or relative). The token is a secret: the
// directory is made 0700 and the file is written whole and atomically with
// mode 0600, so a crash never leaves half a token and no other user can
// read it at any moment.
//
// Thread-safe functions; concurrent writers of one file leave one of the
// written tokens in place.
#pragma once

#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace bcn::cli {

// Files larger than this are not token files.
inline constexpr std::size_t kMaxTokenFileBytes = 4096;

// Fails when neither variable gives an absolute directory.
std::expected<std::filesystem::path, std::string> defaultTokenPath(const char* xdgConfigHome, const char* home);

// What the daemon issues: 32 random bytes in padded standard Base64, 44
// characters.
bool isWellFormedToken(std::string_view token);

// The stored token; nothing when there is no file. A file that cannot be
// read or does not hold a well-formed token (one line, optionally ending in
// a newline) is an error naming the file.
std::expected<std::optional<std::string>, std::string> readToken(const std::filesystem::path& path);

// Creates the directory (0700) when missing. Done before asking for a
// pairing, so that a token is never issued that could not be kept.
std::expected<void, std::string> prepareTokenDirectory(const std::filesystem::path& path);

// Replaces the file with `token` and a newline.
// REQUIRES: isWellFormedToken(token).
std::expected<void, std::string> writeToken(const std::filesystem::path& path, const std::string& token);

// Removes the file; no file is fine.
std::expected<void, std::string> removeToken(const std::filesystem::path& path);

}  // namespace bcn::cli
