#include "netcore/shim/name_index.h"

#include <bit>
#include <functional>

namespace bcn::shim {

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
    if (slot.position != kAbsent) slots_[probe(slot.name)] = slot;
  }
}

std::size_t NameIndex::hash(std::string_view name) const { return std::hash<std::string_view>{}(name); }

std::size_t NameIndex::probe(std::string_view name) const {
  // The table is never more than half full, so an empty slot ends every
  // probe within one pass.
  std::size_t i = hash(name) & mask_;
  while (slots_[i].position != kAbsent && slots_[i].name != name) i = (i + 1) & mask_;
  return i;
}

NameIndex::Slot& NameIndex::slotFor(std::string_view name) {
  if (slots_.empty()) reset(0);
  if ((used_ + 1) * 2 > mask_ + 1) grow();
  return slots_[probe(name)];
}

const NameIndex::Slot* NameIndex::findSlot(std::string_view name) const {
  if (slots_.empty()) return nullptr;
  const Slot& slot = slots_[probe(name)];
  return slot.position == kAbsent ? nullptr : &slot;
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
