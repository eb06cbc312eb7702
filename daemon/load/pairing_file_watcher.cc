#include "daemon/load/pairing_file_watcher.h"

#include <cstdlib>

#include "daemon/pairing_store.h"
#include "platform/files.h"

namespace bcn::load {

PairingFileWatcher::PairingFileWatcher(std::filesystem::path path)
    : path_(std::move(path)), thread_([this] { watch(); }) {}

PairingFileWatcher::~PairingFileWatcher() {
  stop_ = true;
  thread_.join();
}

void PairingFileWatcher::watch() {
  while (!stop_) {
    auto bytes = files::readFile(path_, PairingStore::kMaxFileBytes);
    ++reads_;
    if (!bytes || !PairingStore::decode(*bytes)) ++bad_;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

ScopedAsanQuarantine::ScopedAsanQuarantine() {
  if (const char* old = std::getenv("ASAN_OPTIONS")) {
    hadOptions_ = true;
    saved_ = old;
  }
  const std::string options = (hadOptions_ ? saved_ + ":" : std::string()) + "quarantine_size_mb=8";
  ::setenv("ASAN_OPTIONS", options.c_str(), 1);
}

ScopedAsanQuarantine::~ScopedAsanQuarantine() {
  if (hadOptions_) {
    ::setenv("ASAN_OPTIONS", saved_.c_str(), 1);
  } else {
    ::unsetenv("ASAN_OPTIONS");
  }
}

}  // namespace bcn::load
