// Media word to text, and the two status-word tests.
#include <cstring>

#include "netcore/shim/bcn_interfaces.h"
#include "netcore/shim/media_table.h"

namespace {

using bcn::shim::MediaName;
using bcn::shim::MediaTypeEntry;

// Appends to a zero-terminated buffer of `size` bytes (size > 0), keeping
// the terminator and silently dropping whatever does not fit.
void append(char* buffer, std::size_t size, const char* text) {
  std::size_t used = std::strlen(buffer);
  std::size_t room = size - 1 - used;
  std::size_t n = std::strlen(text);
  if (n > room) n = room;
  std::memcpy(buffer + used, text, n);
  buffer[used + n] = '\0';
}

bool knownType(std::uint32_t type) {
  for (const MediaName* t = bcn::shim::kMediaTypes; t->text != nullptr; ++t) {
    if (t->word == type) return true;
  }
  return false;
}

const MediaTypeEntry* entryFor(std::uint32_t type) {
  for (const MediaTypeEntry* e = bcn::shim::kMediaTypeEntries; e->type != 0; ++e) {
    if (e->type == type) return e;
  }
  return nullptr;
}

const char* subtypeText(const MediaTypeEntry& entry, std::uint32_t subtype) {
  for (const MediaName* table : entry.subtypes) {
    for (const MediaName* s = table; s != nullptr && s->text != nullptr; ++s) {
      if (s->word == subtype) return s->text;
    }
  }
  return nullptr;
}

}  // namespace

extern "C" {

void bcn_media_word_string(std::int32_t word, char* buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) return;
  buffer[0] = '\0';
  const auto bits = static_cast<std::uint32_t>(word);
  const std::uint32_t type = bits & bcn::shim::kMediaTypeMask;
  const MediaTypeEntry* entry = knownType(type) ? entryFor(type) : nullptr;
  if (entry == nullptr) {
    append(buffer, size, "<unknown type>");
    return;
  }
  const char* subtype = subtypeText(*entry, bits & bcn::shim::kMediaSubtypeMask);
  if (subtype == nullptr) {
    append(buffer, size, "<unknown subtype>");
    return;
  }
  append(buffer, size, subtype);
  bool any = false;
  for (const MediaName* table : entry->options) {
    for (const MediaName* o = table; o != nullptr && o->text != nullptr; ++o) {
      if ((o->word & bits) == 0) continue;
      append(buffer, size, any ? "," : " <");
      append(buffer, size, o->text);
      any = true;
    }
  }
  if (any) append(buffer, size, ">");
}

bool bcn_media_status_valid(std::int32_t status) { return (status & 0x1) != 0; }

bool bcn_media_status_active(std::int32_t status) { return (status & 0x2) != 0; }

}  // extern "C"
