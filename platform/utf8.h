// UTF-8 well-formedness, for the decoders that must not pass on bytes
// other programs would read as something else. Pure functions; thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace bcn::utf8 {

// Length of the well-formed sequence starting at bytes[i], or 0 when it is
// ill-formed; `consumed` is then the maximal subpart to replace (at least
// one byte). The ranges follow the Unicode standard's table of well-formed
// byte sequences, which rules out overlong forms, surrogates and code
// points above U+10FFFF.
// REQUIRES: i < bytes.size().
std::size_t sequenceAt(std::span<const std::uint8_t> bytes, std::size_t i, std::size_t& consumed);

// Whether all of `text` is well-formed UTF-8.
bool isValid(std::string_view text);

}  // namespace bcn::utf8
