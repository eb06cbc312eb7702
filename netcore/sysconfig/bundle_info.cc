#include "netcore/sysconfig/bundle_info.h"

#include <system_error>

#include "platform/files.h"

namespace bcn {

std::optional<PlistDictionary> readBundleInfo(const std::filesystem::path& bundle) {
  std::error_code ignored;
  if (!std::filesystem::is_directory(bundle, ignored)) return std::nullopt;
  const auto contents = bundle / "Contents";
  const auto infoPath =
      std::filesystem::is_directory(contents, ignored) ? contents / "Info.plist" : bundle / "Info.plist";
  const auto bytes = files::readFile(infoPath, kMaxBundleInfoBytes);
  if (!bytes) return std::nullopt;
  auto decoded = decodePlist(*bytes);
  if (!decoded || decoded->dictionary() == nullptr) return std::nullopt;
  return *decoded->dictionary();
}

}  // namespace bcn
