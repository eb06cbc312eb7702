// The pairing file as the daemon finds it on disk at start-up: any bytes
// must give a list of pairings or nothing, never a crash, and a list it
// accepts must survive the store's own save and load.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "daemon/pairing_store.h"
#include "platform/files.h"

namespace {

// One scratch directory for the whole run, in memory where the machine has
// /dev/shm so that the fsyncs of each save cost little; each accepted input
// rewrites its file.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    const std::filesystem::path base =
        std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
    std::string pattern = (base / "bcn-fuzz-pairing-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

const std::filesystem::path& scratch() {
  static const ScratchDirectory dir;
  return dir.path();
}

// The file keeps dates to the microsecond (whole seconds plus
// microseconds), so a save may round what an earlier writer stored.
bool sameUpToMicroseconds(const std::vector<bcn::PairingStore::Pairing>& a,
                          const std::vector<bcn::PairingStore::Pairing>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].digest != b[i].digest || a[i].uid != b[i].uid) return false;
    if (!(std::fabs(a[i].created.secondsSince2001 - b[i].created.secondsSince2001) <= 1e-6)) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  auto pairings = bcn::PairingStore::decode(bytes);
  if (!pairings) return 0;

  // Loading from a file is the decode above plus a size cap. Any change
  // saves the whole store (here unpairing a token nobody holds), which must
  // write back every pairing that was read.
  const bcn::PairingStore::Options options{.directory = scratch(), .ownerUID = ::geteuid(), .ownerGID = ::getegid()};
  if (!bcn::files::writeFileAtomically(scratch() / bcn::PairingStore::kFileName, bytes, 0600)) std::abort();
  bcn::PairingStore store = bcn::PairingStore::load(options);
  if (store.pairings() != *pairings) std::abort();
  if (!store.unpair("not a token of any pairing", 0)) std::abort();
  if (!sameUpToMicroseconds(bcn::PairingStore::load(options).pairings(), *pairings)) std::abort();
  return 0;
}
