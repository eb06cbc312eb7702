// The traffic history file as HistoryStore::load finds it: any bytes give
// a map of histories or an error. A map that decodes must save back
// unchanged, and every history in it must be usable.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <span>

#include "fuzz/history_exercise.h"
#include "fuzz/plist_identity.h"
#include "netcore/history/history_coding.h"
#include "netcore/history/history_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto histories = bcn::decodeHistoryFile(std::span<const std::uint8_t>(data, size));
  if (!histories) return 0;

  // Saving writes back every history with traffic exactly as loaded.
  auto bytes = bcn::encodeHistoryFile(*histories);
  if (!bytes) std::abort();
  auto again = bcn::decodeHistoryFile(*bytes);
  if (!again) std::abort();
  std::erase_if(*histories, [](const auto& entry) { return !entry.second.hasTraffic(); });
  if (again->size() != histories->size()) std::abort();
  for (const auto& [key, history] : *histories) {
    const auto found = again->find(key);
    if (found == again->end()) std::abort();
    if (!bcn::fuzzing::identical(bcn::encodeRateHistory(found->second), bcn::encodeRateHistory(history))) {
      std::abort();
    }
  }

  for (const auto& [key, history] : *histories) bcn::fuzzing::exerciseHistory(history);
  return 0;
}
