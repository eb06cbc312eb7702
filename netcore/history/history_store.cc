#include "netcore/history/history_store.h"

#include <utility>
#include <vector>

#include "netcore/history/history_coding.h"
#include "platform/files.h"

namespace bcn {
namespace {

constexpr std::uint32_t kFileMode = 0644;
constexpr std::uint32_t kDirectoryMode = 0755;

}  // namespace

std::expected<PlistData, PlatformError> encodeHistoryFile(const HistoryMap& histories) {
  std::vector<PlistDictionary::Entry> entries;
  for (const auto& [key, history] : histories) {
    if (history.hasTraffic()) entries.emplace_back(key, encodeRateHistory(history));
  }
  return encodeBinaryPlist(PlistDictionary::fromEntries(std::move(entries)));
}

std::expected<HistoryMap, PlatformError> decodeHistoryFile(std::span<const std::uint8_t> bytes) {
  auto root = decodePlist(bytes);
  if (!root) return std::unexpected(root.error());
  const PlistDictionary* dict = root->dictionary();
  if (dict == nullptr) {
    return std::unexpected(PlatformError::corruptData("history file: root is not a dictionary"));
  }
  HistoryMap histories;
  for (const auto& [key, value] : *dict) {
    auto history = decodeRateHistory(value);
    if (!history) return std::unexpected(history.error());
    histories.emplace(key, std::move(*history));
  }
  return histories;
}

std::expected<void, PlatformError> HistoryStore::save(const HistoryMap& histories) const {
  auto bytes = encodeHistoryFile(histories);
  if (!bytes) return std::unexpected(bytes.error());
  if (const auto directory = url_.parent_path(); !directory.empty()) {
    if (auto made = files::createDirectories(directory, kDirectoryMode); !made) {
      return std::unexpected(made.error());
    }
  }
  return files::writeFileAtomically(url_, *bytes, kFileMode);
}

HistoryMap HistoryStore::load() const {
  auto bytes = files::readFile(url_, PlistLimits::kMaxBytes);
  if (!bytes) return {};
  auto histories = decodeHistoryFile(*bytes);
  if (!histories) return {};
  return std::move(*histories);
}

}  // namespace bcn
