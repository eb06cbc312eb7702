#include "netcore/sysconfig/bundle_info.h"

#include <sys/stat.h>

#include <system_error>

#include "platform/files.h"

namespace bcn {

std::optional<PlistDictionary> readBundleInfo(const std::filesystem::path& bundle) {
  // The daemon names any user's tunnel owner, as root, for any caller. Were
  // links trusted here, a bundle's Info.plist pointing at a file only root
  // may read would hand its names to whoever made the link; a file that
  // belongs to the bundle's own owner reveals nothing that owner could not
  // read already.
  struct stat status {};
  if (::lstat(bundle.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return std::nullopt;
  std::error_code ignored;
  const auto contents = bundle / "Contents";
  const auto infoPath =
      std::filesystem::is_directory(contents, ignored) ? contents / "Info.plist" : bundle / "Info.plist";
  const auto bytes = files::readFileOwnedBy(infoPath, kMaxBundleInfoBytes, status.st_uid);
  if (!bytes) return std::nullopt;
  auto decoded = decodePlist(*bytes);
  if (!decoded || decoded->dictionary() == nullptr) return std::nullopt;
  return *decoded->dictionary();
}

}  // namespace bcn
