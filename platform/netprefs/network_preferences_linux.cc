#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <expected>
#include <map>
#include <utility>

#include "platform/files.h"
#include "platform/netprefs/default_preferences.h"
#include "platform/netprefs/kernel_links.h"
#include "platform/netprefs/network_preferences.h"

namespace bcn::netprefs {
namespace {

constexpr std::uint32_t kDirectoryMode = 0755;
constexpr std::uint32_t kFileMode = 0644;

// The saved preferences, or the kernel-derived default while there is no
// file. Unreadable or malformed files are errors, never the default: a
// commit would otherwise replace what the administrator wrote. The default
// comes from `links` when given, else from a new reading of the kernel.
std::expected<PlistDictionary, PlatformError> loadDocument(const PreferencesLocation& location,
                                                           const std::vector<KernelLink>* links = nullptr) {
  auto bytes = files::readFile(location.file, NetworkPreferences::kMaxFileBytes);
  if (!bytes) {
    if (bytes.error().domain != PlatformError::kPosixDomain || bytes.error().code != ENOENT) {
      return std::unexpected(bytes.error());
    }
    if (links != nullptr) return defaultPreferences(*links);
    return defaultPreferences(readKernelLinks().value_or(std::vector<KernelLink>{}));
  }
  auto decoded = decodePlist(*bytes);
  if (!decoded) return std::unexpected(decoded.error());
  if (decoded->dictionary() == nullptr) {
    return std::unexpected(PlatformError::corruptData(location.file.string() + " is not a dictionary"));
  }
  return *decoded->dictionary();
}

int openLockFile(const std::filesystem::path& path) {
  if (!files::createDirectories(path.parent_path(), kDirectoryMode)) return -1;
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kFileMode);
  // A lock needs no write access: an existing lock file on a read-only
  // file system still serialises writers.
  if (fd < 0) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  return fd;
}

// Each device of the current set that names one: up when any enabled
// service uses it. A device shared by several services stays up while any
// of them is on.
std::map<std::string, bool> wantedDeviceStates(const PlistDictionary& document) {
  std::map<std::string, bool> wantUp;
  const std::optional<PreferencesSet> set = currentSet(document);
  if (!set) return wantUp;
  for (const PreferencesService& service : set->services) {
    if (!service.interface || !service.interface->bsdName) continue;
    wantUp[*service.interface->bsdName] |= service.enabled;
  }
  return wantUp;
}

bool takeLock(int fd, bool wait) {
  while (::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB)) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

}  // namespace

PreferencesLocation PreferencesLocation::inDirectory(const std::filesystem::path& directory) {
  return {directory / "network-preferences.plist", directory / "network-preferences.plist.lock"};
}

PreferencesLocation PreferencesLocation::systemDefault() {
  // systemd passes a colon-separated list; the first entry is ours.
  if (const char* configured = std::getenv("CONFIGURATION_DIRECTORY")) {
    const std::string_view list(configured);
    const std::string_view first = list.substr(0, list.find(':'));
    if (!first.empty()) return inDirectory(std::filesystem::path(first));
  }
  return inDirectory("/etc/beaconbar");
}

std::unique_ptr<NetworkPreferences> NetworkPreferences::create(std::string_view clientName) {
  return create(clientName, PreferencesLocation::systemDefault());
}

std::unique_ptr<NetworkPreferences> NetworkPreferences::create(std::string_view clientName,
                                                               PreferencesLocation location) {
  auto document = loadDocument(location);
  if (!document) return nullptr;
  return std::unique_ptr<NetworkPreferences>(
      new NetworkPreferences(std::string(clientName), std::move(location), std::move(*document)));
}

std::unique_ptr<NetworkPreferences> NetworkPreferences::create(std::string_view clientName,
                                                               PreferencesLocation location,
                                                               const std::vector<KernelLink>& links) {
  auto document = loadDocument(location, &links);
  if (!document) return nullptr;
  return std::unique_ptr<NetworkPreferences>(
      new NetworkPreferences(std::string(clientName), std::move(location), std::move(*document)));
}

NetworkPreferences::NetworkPreferences(std::string clientName, PreferencesLocation location,
                                       PlistDictionary document)
    : clientName_(std::move(clientName)),
      location_(std::move(location)),
      document_(document),
      base_(document),
      applied_(std::move(document)) {}

NetworkPreferences::~NetworkPreferences() { unlock(); }

bool NetworkPreferences::lock(bool wait) {
  if (locked()) return false;
  const int fd = openLockFile(location_.lockFile);
  if (fd < 0) return false;
  if (!takeLock(fd, wait)) {
    ::close(fd);
    return false;
  }
  auto latest = loadDocument(location_);
  const bool edited = !(document_ == base_);
  if (!latest || (edited && !(*latest == base_))) {
    ::close(fd);
    return false;
  }
  if (!edited) {
    document_ = *latest;
    // What others committed meanwhile is theirs to apply.
    applied_ = *latest;
  }
  base_ = std::move(*latest);
  lockFd_ = fd;
  return true;
}

bool NetworkPreferences::unlock() {
  if (!locked()) return false;
  // Closing the only descriptor of the open file releases the flock.
  ::close(lockFd_);
  lockFd_ = -1;
  return true;
}

std::optional<PlistValue> NetworkPreferences::pathGetValue(std::string_view path) const {
  return valueAtPath(document_, path);
}

std::optional<PreferencesSet> NetworkPreferences::copyCurrentSet() const {
  return currentSet(document_);
}

std::optional<PreferencesService> NetworkPreferences::copyService(std::string_view serviceID) const {
  return serviceWithID(document_, serviceID);
}

bool NetworkPreferences::setServiceEnabled(std::string_view serviceID, bool enabled) {
  if (!netprefs::setServiceEnabled(document_, serviceID, enabled)) return false;
  // Whoever switches a service expects its link to follow, also when the
  // file already said so and the link was moved by hand since.
  if (auto service = serviceWithID(document_, serviceID); service && service->interface && service->interface->bsdName) {
    switched_.insert(*service->interface->bsdName);
  }
  return true;
}

std::expected<void, PlatformError> NetworkPreferences::commitChanges() {
  const bool lockedHere = !locked();
  if (lockedHere && !lock(true)) {
    return std::unexpected(PlatformError{PlatformError::kCocoaDomain, 512,
                                         "the preferences lock could not be taken, or the file changed meanwhile"});
  }
  std::expected<void, PlatformError> written = std::unexpected(PlatformError::fileWriteUnknown());
  if (auto bytes = encodeXmlPlist(document_)) {
    const std::span<const std::uint8_t> data(reinterpret_cast<const std::uint8_t*>(bytes->data()),
                                             bytes->size());
    if (auto directory = files::createDirectories(location_.file.parent_path(), kDirectoryMode); !directory) {
      written = std::unexpected(directory.error());
    } else if (auto saved = files::writeFileAtomically(location_.file, data, kFileMode); !saved) {
      written = std::unexpected(saved.error());
    } else {
      written = {};
    }
  }
  if (written) base_ = document_;
  if (lockedHere) unlock();
  return written;
}

std::expected<void, PlatformError> NetworkPreferences::applyChanges() {
  const std::map<std::string, bool> before = wantedDeviceStates(applied_);
  std::map<std::string, bool> changed;
  for (const auto& [device, up] : wantedDeviceStates(document_)) {
    const auto was = before.find(device);
    if (was == before.end() || was->second != up || switched_.contains(device)) changed.emplace(device, up);
  }
  if (changed.empty()) {
    applied_ = document_;
    switched_.clear();
    return {};
  }
  const std::optional<std::vector<KernelLink>> links = readKernelLinks();
  if (!links) return std::unexpected(PlatformError::fromErrno(EIO, "read the kernel's links"));
  std::expected<void, PlatformError> outcome;
  for (const KernelLink& link : *links) {
    const auto wanted = changed.find(link.name);
    if (wanted == changed.end() || wanted->second == link.up) continue;
    if (auto set = setKernelLinkUp(link.name, wanted->second); !set && outcome) outcome = std::unexpected(set.error());
  }
  if (outcome) {
    applied_ = document_;
    switched_.clear();
  }
  return outcome;
}

bool isHiddenService(const NetworkPreferences& session, std::string_view serviceID) {
  return isHiddenService(session.document(), serviceID);
}

}  // namespace bcn::netprefs
