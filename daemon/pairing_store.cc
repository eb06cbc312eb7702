#include "daemon/pairing_store.h"

#include <sys/stat.h>

#include <cstdlib>
#include <limits>

#include "platform/files.h"
#include "platform/plist.h"
#include "protocol/token_digest.h"

namespace bcn {

std::filesystem::path PairingStore::defaultDirectory() {
  // systemd may pass several directories separated by ':'; ours is the first.
  if (const char* state = std::getenv("STATE_DIRECTORY"); state != nullptr && *state != '\0') {
    const std::string_view dirs(state);
    return std::filesystem::path(dirs.substr(0, dirs.find(':')));
  }
  return "/var/lib/beaconbar-admin";
}

PairingStore::PairingStore(Options options) : options_(std::move(options)) {}

PairingStore PairingStore::load(Options options) {
  PairingStore store(std::move(options));
  // Only the file itself counts: a symbolic link in its place, wherever it
  // points, would let whoever made it choose the pairings. The next save
  // replaces the link with a real file.
  struct stat status {};
  if (::lstat(store.fileURL().c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return store;
  auto bytes = files::readFile(store.fileURL(), kMaxFileBytes);
  if (bytes) {
    if (auto pairings = decode(*bytes)) {
      store.pairings_ = std::move(*pairings);
      store.unsaved_ = false;
      return store;
    }
  }
  // Starting empty is the only way to keep pairing, but the old file may be
  // someone's only copy of every pairing: keep it out of the next save's way.
  std::string problem = "The pairing file " + store.fileURL().string() + " could not be used (" +
                        (bytes ? std::string("malformed") : bytes.error().description) + ")";
  if (auto aside = files::setAside(store.fileURL(), "unreadable")) {
    problem += "; it was moved to " + aside->string() + " and the daemon starts with no pairings.";
  } else {
    problem += "; moving it aside failed (" + aside.error().description + "), so the next pairing will replace it.";
  }
  store.loadProblem_ = std::move(problem);
  return store;
}

std::optional<std::vector<PairingStore::Pairing>> PairingStore::decode(std::span<const std::uint8_t> bytes) {
  auto root = decodePlist(bytes);
  if (!root || root->array() == nullptr) return std::nullopt;
  std::vector<Pairing> pairings;
  pairings.reserve(root->array()->size());
  for (const PlistValue& element : *root->array()) {
    const PlistDictionary* fields = element.dictionary();
    if (fields == nullptr) return std::nullopt;
    const PlistValue* digest = fields->find("digest");
    const PlistValue* uid = fields->find("uid");
    const PlistValue* created = fields->find("created");
    if (digest == nullptr || digest->data() == nullptr) return std::nullopt;
    if (uid == nullptr || !uid->uint64() || *uid->uint64() > std::numeric_limits<std::uint32_t>::max()) {
      return std::nullopt;
    }
    if (created == nullptr || !created->date()) return std::nullopt;
    pairings.push_back({*digest->data(), static_cast<std::uint32_t>(*uid->uint64()), *created->date()});
  }
  return pairings;
}

crypto::Sha256Digest PairingStore::digest(std::string_view token) { return crypto::sha256(token); }

bool PairingStore::pairs(std::span<const Pairing> pairings, std::string_view token, std::uint32_t uid) {
  const crypto::Sha256Digest wanted = digest(token);
  bool matched = false;
  for (const Pairing& pairing : pairings) {
    if (pairing.uid != uid) continue;
    // No short-circuit: every pairing of the user is compared.
    matched = TokenDigest::equal(pairing.digest, wanted) || matched;
  }
  return matched;
}

std::expected<std::string, PlatformError> PairingStore::pair(std::uint32_t uid) {
  auto bytes = options_.random(kTokenBytes);
  if (!bytes || bytes->size() != kTokenBytes) return std::unexpected(PlatformError::fileWriteUnknown());
  std::string token = crypto::base64Encode(*bytes);
  const crypto::Sha256Digest d = digest(token);
  pairings_.push_back({{d.begin(), d.end()}, uid, Date::now()});
  if (auto saved = save(); !saved) return std::unexpected(saved.error());
  return token;
}

std::expected<bool, PlatformError> PairingStore::unpair(std::string_view token, std::uint32_t uid) {
  const crypto::Sha256Digest wanted = digest(token);
  const auto removed =
      std::erase_if(pairings_, [&](const Pairing& p) { return p.uid == uid && TokenDigest::equal(p.digest, wanted); });
  if (removed == 0 && !unsaved_) return false;
  if (auto saved = save(); !saved) return std::unexpected(saved.error());
  return removed != 0;
}

std::expected<void, PlatformError> PairingStore::removeAll() {
  pairings_.clear();
  return save();
}

std::expected<void, PlatformError> PairingStore::save() {
  unsaved_ = true;
  if (auto written = write(); !written) return written;
  unsaved_ = false;
  return {};
}

std::expected<void, PlatformError> PairingStore::write() const {
  if (auto made = files::createDirectories(options_.directory, 0700); !made) return made;
  PlistArray elements;
  elements.reserve(pairings_.size());
  for (const Pairing& p : pairings_) {
    elements.emplace_back(PlistDictionary{{"digest", PlistData(p.digest)}, {"uid", p.uid}, {"created", p.created}});
  }
  auto bytes = encodeBinaryPlist(PlistValue(std::move(elements)));
  if (!bytes) return std::unexpected(bytes.error());
  if (auto written = files::writeFileAtomically(fileURL(), *bytes, 0600); !written) return written;
  return files::setModeAndOwner(fileURL(), 0600, options_.ownerUID, options_.ownerGID);
}

}  // namespace bcn
