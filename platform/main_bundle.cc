#include "platform/main_bundle.h"

#include <cstddef>

// Defined by the source that bcn_embed_info_plist generates for each executable.
extern "C" const char bcn_embedded_info_plist[];
extern "C" const std::size_t bcn_embedded_info_plist_size;

namespace bcn::MainBundle {

const PlistDictionary& infoDictionary() {
  static const PlistDictionary info = [] {
    auto value = decodePlist(std::string_view(bcn_embedded_info_plist, bcn_embedded_info_plist_size));
    if (value && value->dictionary() != nullptr) return *value->dictionary();
    return PlistDictionary{};
  }();
  return info;
}

std::optional<std::string> string(std::string_view key) {
  const PlistValue* value = infoDictionary().find(key);
  if (value == nullptr || value->text() == nullptr) return std::nullopt;
  return *value->text();
}

}  // namespace bcn::MainBundle
