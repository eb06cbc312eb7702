// NameIndex: positions looked up by interface name, for the few hundred
// names one reading holds. Open addressing in one array that a reading
// refills in place, so building the index allocates nothing once the array
// has grown to a namespace's size (a node-based map allocates per name,
// every reading).
//
// The index does not own the names: each inserted view must stay valid
// until the next reset(). The table is kept at most half full; a lookup
// probes at most the whole table, even for names chosen to collide (only
// whoever may create interfaces in the namespace names them).
//
// Thread safety: none; one reading owns one index.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace bcn::shim {

class NameIndex {
 public:
  static constexpr std::uint32_t kAbsent = UINT32_MAX;

  // Empties the index and sizes it for up to `names` insertions.
  void reset(std::size_t names);

  // The position stored for `name`, inserting `position` first when the
  // name is new. More names than reset() was told grow the table.
  std::uint32_t findOrInsert(std::string_view name, std::uint32_t position);

  // Stores `position` for `name`, replacing what was there.
  void assign(std::string_view name, std::uint32_t position);

  // The position stored for `name`; kAbsent when there is none.
  std::uint32_t find(std::string_view name) const;

 private:
  struct Slot {
    std::string_view name;
    std::uint32_t position = kAbsent;  // kAbsent marks an empty slot
  };

  // The slot holding `name`, or the empty slot where it belongs, with room
  // made for one more name.
  Slot& slotFor(std::string_view name);
  void grow();
  const Slot* findSlot(std::string_view name) const;
  // Where `name` is, or the empty slot that ends its probe.
  std::size_t probe(std::string_view name) const;
  std::size_t hash(std::string_view name) const;

  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
  std::size_t used_ = 0;
};

}  // namespace bcn::shim
