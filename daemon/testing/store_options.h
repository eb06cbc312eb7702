// Pairing-store options for tests: a scratch directory and the test's own
// user as file owner, so saves succeed whether or not the suite runs as
// root. Test-only code.
#pragma once

#include <unistd.h>

#include <filesystem>

#include "daemon/pairing_store.h"

namespace bcn::testing {

inline PairingStore::Options storeOptionsFor(const std::filesystem::path& dir) {
  return {.directory = dir, .ownerUID = ::geteuid(), .ownerGID = ::getegid()};
}

}  // namespace bcn::testing
