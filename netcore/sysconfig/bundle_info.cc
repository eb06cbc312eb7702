#include "netcore/sysconfig/bundle_info.h"

#include "platform/files_beneath.h"

namespace bcn {

std::optional<PlistDictionary> readBundleInfo(const std::filesystem::path& bundle) {
  // The daemon names any user's tunnel owner, as root, for any caller. Were
  // links followed here, a bundle's Info.plist pointing at a file only root
  // may read would have root open it on the user's say; a file that
  // belongs to the bundle's own owner reveals nothing that owner could not
  // read already. The path comes from the kernel (the owner's executable),
  // so a link anywhere on it was put there since, and is refused too.
  const auto directory = files::openDirectoryWithoutLinks(bundle);
  if (!directory) return std::nullopt;
  const std::filesystem::path info = files::isDirectoryBeneath(*directory, "Contents")
                                         ? std::filesystem::path("Contents/Info.plist")
                                         : std::filesystem::path("Info.plist");
  const auto bytes = files::readFileBeneath(*directory, info, kMaxBundleInfoBytes);
  if (!bytes) return std::nullopt;
  auto decoded = decodePlistWithin(*bytes, kBundleInfoBudget);
  if (!decoded || decoded->dictionary() == nullptr) return std::nullopt;
  return *decoded->dictionary();
}

}  // namespace bcn
