#include "netcore/shim/name_index.h"

#include <bit>
#include <cstring>

namespace bcn::shim {
namespace {

const std::uint64_t kSeed = [] {
  static const char anchor = 0;
  // The address varies per process under ASLR; the multiplication spreads
  // its page-aligned bits over the whole word.
  return (reinterpret_cast<std::uintptr_t>(&anchor) | 1) * 0x9E3779B97F4A7C15ULL;
}();

}  // namespace

void NameIndex::reset(std::size_t names) {
  const std::size_t wanted = std::bit_ceil(names * 2 + 2);
  if (slots_.size() < wanted) slots_.resize(wanted);
  std::size_t size = slots_.size();
  // A much smaller reading after a large one keeps the array but probes a
  // prefix of it, so reset stays proportional to what is indexed.
  while (size > wanted) size /= 2;
  mask_ = size - 1;
  used_ = 0;
  for (std::size_t i = 0; i < size; ++i) slots_[i].position = kAbsent;
}

void NameIndex::grow() {
  std::vector<Slot> old(slots_.begin(), slots_.begin() + static_cast<std::ptrdiff_t>(mask_ + 1));
  slots_.assign(old.size() * 2, Slot{});
  mask_ = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.position == kAbsent) continue;
    std::size_t i = hash(slot.name) & mask_;
    while (slots_[i].position != kAbsent) i = (i + 1) & mask_;
    slots_[i] = slot;
  }
}

std::size_t NameIndex::hash(std::string_view name) const {
  // Interface names are at most 15 bytes: two overlapping 8-byte words
  // cover such a name whole, for a handful of instructions where a byte
  // loop costs several per byte. Longer names (labels) hash their ends.
  std::uint64_t h = kSeed ^ name.size();
  const std::size_t n = name.size();
  if (n >= 8) {
    std::uint64_t head, tail;
    std::memcpy(&head, name.data(), 8);
    std::memcpy(&tail, name.data() + n - 8, 8);
    h = (h ^ head) * 0x9E3779B97F4A7C15ULL;
    h = (h ^ tail) * 0xC2B2AE3D27D4EB4FULL;
  } else {
    std::uint64_t word = 0;
    for (std::size_t i = 0; i < n; ++i) word |= std::uint64_t{static_cast<unsigned char>(name[i])} << (8 * i);
    h = (h ^ word) * 0x9E3779B97F4A7C15ULL;
  }
  // The multiplications carry a difference only upwards, and names often
  // differ in their last bytes (the high ones of `tail`): the finaliser
  // brings the high bits down to the ones the table is indexed by.
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDULL;
  h ^= h >> 33;
  return static_cast<std::size_t>(h);
}

NameIndex::Slot& NameIndex::slotFor(std::string_view name) {
  if (slots_.empty()) reset(0);
  if ((used_ + 1) * 2 > mask_ + 1) grow();
  std::size_t i = hash(name) & mask_;
  while (slots_[i].position != kAbsent && slots_[i].name != name) i = (i + 1) & mask_;
  return slots_[i];
}

const NameIndex::Slot* NameIndex::findSlot(std::string_view name) const {
  if (slots_.empty()) return nullptr;
  std::size_t i = hash(name) & mask_;
  for (std::size_t probes = 0; probes <= mask_; ++probes, i = (i + 1) & mask_) {
    const Slot& slot = slots_[i];
    if (slot.position == kAbsent) return nullptr;
    if (slot.name == name) return &slot;
  }
  return nullptr;
}

std::uint32_t NameIndex::findOrInsert(std::string_view name, std::uint32_t position) {
  Slot& slot = slotFor(name);
  if (slot.position == kAbsent) {
    ++used_;
    slot.name = name;
    slot.position = position;
  }
  return slot.position;
}

void NameIndex::assign(std::string_view name, std::uint32_t position) {
  Slot& slot = slotFor(name);
  if (slot.position == kAbsent) ++used_;
  slot.name = name;
  slot.position = position;
}

std::uint32_t NameIndex::find(std::string_view name) const {
  const Slot* slot = findSlot(name);
  return slot == nullptr ? kAbsent : slot->position;
}

}  // namespace bcn::shim
