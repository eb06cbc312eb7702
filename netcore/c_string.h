// decodeCString: text from a fixed-size, zero-terminated kernel buffer
// (interface names, address text, executable paths). Takes the bytes up to
// the first zero byte — all of them when there is none — and decodes them
// as UTF-8, replacing every ill-formed sequence with U+FFFD the way the
// Unicode standard recommends (one replacement per maximal subpart), so
// the result is always valid UTF-8. Pure function; thread-safe.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace bcn {

std::string decodeCString(std::span<const char> buffer);
std::string decodeCString(std::span<const std::uint8_t> buffer);

}  // namespace bcn
