// The running program's Info.plist. Each executable carries its own,
// generated at build time (bcn_embed_info_plist in CMake) and compiled in;
// it is parsed on first use, under a one-time initialiser that is safe
// against concurrent first use, and never changes afterwards.
//
// REQUIRES: the executable embeds an Info.plist; one that does not fails to
// link, rather than running with silent defaults.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/plist.h"

namespace bcn::MainBundle {

// The Info.plist dictionary; empty when the embedded text is not a
// dictionary property list.
const PlistDictionary& infoDictionary();

// The value of `key` when it is present and of text type.
std::optional<std::string> string(std::string_view key);

}  // namespace bcn::MainBundle
