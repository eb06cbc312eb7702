#include "platform/codesign/code_identity_registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/files.h"
#include "platform/plist.h"

namespace bcn {
namespace {

constexpr std::string_view kExecutables = "executables";

PlatformError badRegistry(const std::string& what) {
  return PlatformError::corruptData("code-identity registry: " + what);
}

const std::string* textAt(const PlistDictionary& d, std::string_view key) {
  const PlistValue* v = d.find(key);
  return v ? v->text() : nullptr;
}

std::expected<RegisteredExecutable, PlatformError> entryFrom(const PlistValue& value) {
  const PlistDictionary* d = value.dictionary();
  if (d == nullptr) return std::unexpected(badRegistry("entry is not a dictionary"));
  const std::string* path = textAt(*d, "path");
  const std::string* identifier = textAt(*d, "identifier");
  const std::string* teamID = textAt(*d, "teamID");
  const std::string* certificate = textAt(*d, "certificate");
  const PlistValue* digest = d->find("sha256");
  if (!path || path->empty() || path->front() != '/' || !identifier || !teamID || !certificate) {
    return std::unexpected(badRegistry("entry lacks path, identifier, teamID or certificate"));
  }
  auto kind = certificateKindFromName(*certificate);
  if (!kind) return std::unexpected(badRegistry("unknown certificate kind \"" + *certificate + "\""));
  RegisteredExecutable entry{*path, {}, {*identifier, *teamID, *kind}};
  if (!digest || !digest->data() || digest->data()->size() != entry.sha256.size()) {
    return std::unexpected(badRegistry("entry for " + *path + " lacks a 32-byte sha256"));
  }
  std::ranges::copy(*digest->data(), entry.sha256.begin());
  return entry;
}

}  // namespace

std::optional<CodeIdentity> CodeIdentityRegistry::lookup(std::string_view path,
                                                         const crypto::Sha256Digest& sha256) const {
  for (const RegisteredExecutable& e : executables) {
    if (e.path == path && e.sha256 == sha256) return e.identity;
  }
  return std::nullopt;
}

void CodeIdentityRegistry::record(RegisteredExecutable entry) {
  std::erase_if(executables, [&](const RegisteredExecutable& e) { return e.path == entry.path; });
  executables.push_back(std::move(entry));
}

std::expected<CodeIdentityRegistry, PlatformError> decodeRegistry(std::span<const std::uint8_t> bytes) {
  auto decoded = decodePlist(bytes);
  if (!decoded) return std::unexpected(decoded.error());
  const PlistDictionary* top = decoded->dictionary();
  const PlistValue* list = top ? top->find(kExecutables) : nullptr;
  if (!list || !list->array()) return std::unexpected(badRegistry("no \"executables\" array"));
  CodeIdentityRegistry registry;
  for (const PlistValue& value : *list->array()) {
    auto entry = entryFrom(value);
    if (!entry) return std::unexpected(entry.error());
    registry.executables.push_back(std::move(*entry));
  }
  return registry;
}

std::expected<std::vector<std::uint8_t>, PlatformError> encodeRegistry(const CodeIdentityRegistry& registry) {
  PlistArray list;
  for (const RegisteredExecutable& e : registry.executables) {
    list.push_back(PlistDictionary{
        {"path", e.path},
        {"sha256", PlistData(e.sha256.begin(), e.sha256.end())},
        {"identifier", e.identity.identifier},
        {"teamID", e.identity.teamID},
        {"certificate", certificateKindName(e.identity.kind)},
    });
  }
  return encodeBinaryPlist(PlistDictionary{{std::string(kExecutables), std::move(list)}});
}

std::filesystem::path defaultRegistryPath() {
  std::string directory = "/etc/beaconbar";
  if (const char* configured = std::getenv("CONFIGURATION_DIRECTORY"); configured && *configured) {
    std::string_view list(configured);
    directory = std::string(list.substr(0, list.find(':')));
  }
  return std::filesystem::path(directory) / CodeIdentityRegistry::kFileName;
}

bool isRootControlled(const struct stat& status) {
  if (status.st_uid != 0) return false;
  if (status.st_mode & S_IWOTH) return false;
  return !((status.st_mode & S_IWGRP) && status.st_gid != 0);
}

std::expected<CodeIdentityRegistry, PlatformError> loadRegistry(const std::filesystem::path& path) {
  struct stat directory {};
  if (::stat(path.parent_path().c_str(), &directory) != 0) {
    return std::unexpected(PlatformError::fromErrno(errno, "stat " + path.parent_path().string()));
  }
  if (!isRootControlled(directory)) {
    return std::unexpected(PlatformError::fromErrno(EPERM, "trust " + path.parent_path().string()));
  }
  // Checked on the descriptor that is then read, so the file cannot be
  // swapped between the check and the read.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return std::unexpected(PlatformError::fromErrno(errno, "open " + path.string()));
  struct stat file {};
  const bool statted = ::fstat(fd, &file) == 0;
  const int statError = errno;
  if (!statted || !S_ISREG(file.st_mode) || !isRootControlled(file) ||
      static_cast<std::size_t>(file.st_size) > CodeIdentityRegistry::kMaxFileBytes) {
    ::close(fd);
    if (!statted) return std::unexpected(PlatformError::fromErrno(statError, "stat " + path.string()));
    return std::unexpected(PlatformError::fromErrno(EPERM, "trust " + path.string()));
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(file.st_size));
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  bytes.resize(got);
  return decodeRegistry(bytes);
}

std::expected<void, PlatformError> saveRegistry(const std::filesystem::path& path,
                                                const CodeIdentityRegistry& registry) {
  auto bytes = encodeRegistry(registry);
  if (!bytes) return std::unexpected(bytes.error());
  if (auto made = files::createDirectories(path.parent_path(), 0755); !made) return made;
  return files::writeFileAtomically(path, *bytes, 0644);
}

}  // namespace bcn
