// Binary property lists built object by object, including shapes no encoder
// would write (cycles, dangling references), and the expansion bombs a
// hostile peer sends: small inputs whose shared objects, copied once per
// reference, come to millions of nodes or gigabytes. Test and fuzz-seed
// code only; header-only so that test programs of any folder can use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bcn::testing {

// Objects are numbered in the order they are added; references are two
// bytes wide and offsets four, so a list holds up to 65,535 objects.
class BinaryPlistBuilder {
 public:
  using Bytes = std::vector<std::uint8_t>;

  std::size_t array(const std::vector<std::size_t>& refs) { return container(0xA0, refs, {}); }
  // Keys and values are references to other objects.
  std::size_t dictionary(const std::vector<std::size_t>& keys, const std::vector<std::size_t>& values) {
    return container(0xD0, keys, values);
  }
  std::size_t integer(std::uint8_t value) { return raw({0x10, value}); }
  std::size_t ascii(const std::string& text) {
    Bytes object = marker(0x50, text.size());
    object.insert(object.end(), text.begin(), text.end());
    return raw(std::move(object));
  }
  std::size_t raw(Bytes object) {
    objects_.push_back(std::move(object));
    return objects_.size() - 1;
  }

  // The whole list with `top` as its root; `claimedObjects` overrides the
  // object count the trailer states.
  Bytes build(std::size_t top, std::uint64_t claimedObjects = 0) const {
    Bytes out = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    std::vector<std::uint32_t> offsets;
    for (const auto& object : objects_) {
      offsets.push_back(static_cast<std::uint32_t>(out.size()));
      out.insert(out.end(), object.begin(), object.end());
    }
    const std::uint64_t tableOffset = out.size();
    for (std::uint32_t offset : offsets) put(out, offset, 4);
    Bytes trailer(6, 0);
    trailer.push_back(4);  // offset size
    trailer.push_back(2);  // reference size
    put(trailer, claimedObjects != 0 ? claimedObjects : objects_.size(), 8);
    put(trailer, top, 8);
    put(trailer, tableOffset, 8);
    out.insert(out.end(), trailer.begin(), trailer.end());
    return out;
  }

 private:
  static void put(Bytes& out, std::uint64_t value, int size) {
    for (int shift = 8 * (size - 1); shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
  }
  // The marker of an object of `count` elements or bytes, with the long
  // form (a 4-byte integer after the marker) from 15 on.
  static Bytes marker(std::uint8_t type, std::size_t count) {
    if (count < 15) return {static_cast<std::uint8_t>(type | count)};
    Bytes head = {static_cast<std::uint8_t>(type | 0x0F), 0x12};
    put(head, count, 4);
    return head;
  }
  std::size_t container(std::uint8_t type, const std::vector<std::size_t>& first,
                        const std::vector<std::size_t>& second) {
    Bytes object = marker(type, first.size());
    for (std::size_t r : first) put(object, r, 2);
    for (std::size_t r : second) put(object, r, 2);
    return raw(std::move(object));
  }

  std::vector<Bytes> objects_;
};

namespace plist_bombs {

// One string of `bytes` bytes, referred to `references` times by the root
// array: 500 KB × 10,000 fits a 510 KB frame and asks for 5 GB.
inline std::vector<std::uint8_t> sharedString(std::size_t bytes, std::size_t references) {
  BinaryPlistBuilder b;
  const std::size_t text = b.ascii(std::string(bytes, 'x'));
  return b.build(b.array(std::vector<std::size_t>(references, text)));
}

// `levels` arrays, each referring twice to the one below: 2^(levels+1)
// nodes from a couple of hundred bytes (20 levels: two million).
inline std::vector<std::uint8_t> nestedPairs(std::size_t levels) {
  BinaryPlistBuilder b;
  std::size_t level = b.integer(1);
  for (std::size_t i = 0; i < levels; ++i) level = b.array({level, level});
  return b.build(level);
}

// Arrays of shared references nested `levels` deep, each level referring
// `width` times to the level below, with a long string at the bottom: the
// node count grows as width^levels and the bytes with it.
inline std::vector<std::uint8_t> nestedSharedArrays(std::size_t levels, std::size_t width, std::size_t bytes) {
  BinaryPlistBuilder b;
  std::size_t level = b.ascii(std::string(bytes, 'n'));
  for (std::size_t i = 0; i < levels; ++i) level = b.array(std::vector<std::size_t>(width, level));
  return b.build(level);
}

// A dictionary of `keys` distinct keys whose values are all one string of
// `bytes` bytes.
inline std::vector<std::uint8_t> sharedDictionaryValues(std::size_t keys, std::size_t bytes) {
  BinaryPlistBuilder b;
  const std::size_t value = b.ascii(std::string(bytes, 'v'));
  std::vector<std::size_t> names;
  for (std::size_t i = 0; i < keys; ++i) names.push_back(b.ascii("k" + std::to_string(i)));
  return b.build(b.dictionary(names, std::vector<std::size_t>(keys, value)));
}

// An array of `dictionaries` references to 64 one-entry dictionaries that
// all share one key of `bytes` bytes: the key is copied for every one.
inline std::vector<std::uint8_t> sharedKeys(std::size_t dictionaries, std::size_t bytes) {
  BinaryPlistBuilder b;
  const std::size_t key = b.ascii(std::string(bytes, 'K'));
  const std::size_t value = b.integer(1);
  std::vector<std::size_t> entries;
  // Distinct dictionaries sharing the key, as an encoder shares equal
  // strings, each referred to many times.
  for (std::size_t i = 0; i < 64; ++i) entries.push_back(b.dictionary({key}, {value}));
  std::vector<std::size_t> top;
  for (std::size_t i = 0; i < dictionaries; ++i) top.push_back(entries[i % entries.size()]);
  return b.build(b.array(top));
}

}  // namespace plist_bombs
}  // namespace bcn::testing
