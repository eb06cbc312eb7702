#include "platform/plist_limits.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace bcn::plist_limits {
namespace {

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kTrailerSize = 32;

std::uint64_t readBigEndian(const unsigned char* p, std::size_t size) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < size; ++i) v = (v << 8) | p[i];
  return v;
}

// The object table of a binary plist, with every offset checked once.
class BinaryObjects {
 public:
  // Returns an error text, or nothing when the trailer is sound.
  std::optional<std::string> open(std::span<const unsigned char> bytes) {
    bytes_ = bytes;
    if (bytes.size() < kHeaderSize + kTrailerSize) return "binary plist too short";
    const unsigned char* trailer = bytes.data() + bytes.size() - kTrailerSize;
    offsetSize_ = trailer[6];
    refSize_ = trailer[7];
    count_ = readBigEndian(trailer + 8, 8);
    top_ = readBigEndian(trailer + 16, 8);
    tableOffset_ = readBigEndian(trailer + 24, 8);
    const std::uint64_t tableEnd = bytes.size() - kTrailerSize;
    if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) {
      return "binary plist trailer has bad integer sizes";
    }
    if (count_ == 0 || top_ >= count_) return "binary plist has no top object";
    if (tableOffset_ < kHeaderSize || tableOffset_ > tableEnd ||
        count_ > (tableEnd - tableOffset_) / offsetSize_) {
      return "binary plist offset table out of bounds";
    }
    return std::nullopt;
  }

  std::uint64_t count() const { return count_; }

  // The text or data bytes an object holds itself (its children aside).
  std::uint64_t ownBytes(std::uint64_t object, std::optional<std::string>& error) const {
    const auto head = header(object, error);
    if (!head) return 0;
    switch (head->type) {
      case 0x4:  // data
      case 0x5:  // ASCII string
        return head->count;
      case 0x6:  // UTF-16 string: up to three UTF-8 bytes per unit
        return head->count > UINT64_MAX / 3 ? UINT64_MAX : head->count * 3;
      default:
        return 0;
    }
  }
  std::uint64_t top() const { return top_; }

  // The objects a container refers to (keys and values for dictionaries);
  // empty for scalars. Sets `error` when the object is malformed, and
  // when a dictionary key is not a string free of NUL characters, which
  // libplist 2.2 aborts on instead of refusing.
  std::vector<std::uint64_t> children(std::uint64_t object, std::optional<std::string>& error) const {
    const auto head = header(object, error);
    if (!head || (head->type != 0xA && head->type != 0xC && head->type != 0xD)) return {};
    const std::uint64_t refs = head->type == 0xD ? head->count * 2 : head->count;
    if (head->count > tableOffset_ || refs > (tableOffset_ - head->payload) / refSize_) {
      error = "binary plist container references out of bounds";
      return {};
    }
    std::vector<std::uint64_t> result(refs);
    for (std::uint64_t i = 0; i < refs; ++i) {
      result[i] = readBigEndian(bytes_.data() + head->payload + i * refSize_, refSize_);
      if (result[i] >= count_) {
        error = "binary plist reference to a missing object";
        return {};
      }
      if (head->type == 0xD && i < head->count && !isPlainKeyOnce(result[i], error)) {
        if (!error) error = "binary plist dictionary key is not a plain string";
        return {};
      }
    }
    return result;
  }

 private:
  struct Header {
    unsigned type;          // high nibble of the marker
    std::uint64_t count;    // element, character or byte count
    std::uint64_t payload;  // offset of what follows the marker and count
  };

  std::optional<Header> header(std::uint64_t object, std::optional<std::string>& error) const {
    const std::uint64_t offset =
        readBigEndian(bytes_.data() + tableOffset_ + object * offsetSize_, offsetSize_);
    if (offset < kHeaderSize || offset >= tableOffset_) {
      error = "binary plist object offset out of bounds";
      return std::nullopt;
    }
    const unsigned char marker = bytes_[offset];
    Header head{static_cast<unsigned>(marker >> 4), marker & 0x0Fu, offset + 1};
    if (head.count == 0x0F) {
      const std::uint64_t pos = head.payload;
      if (pos >= tableOffset_ || (bytes_[pos] >> 4) != 0x1 || (bytes_[pos] & 0x0F) > 3) {
        error = "binary plist object has a bad length";
        return std::nullopt;
      }
      const std::size_t size = std::size_t{1} << (bytes_[pos] & 0x0F);
      if (pos + 1 + size > tableOffset_) {
        error = "binary plist object length out of bounds";
        return std::nullopt;
      }
      head.count = readBigEndian(bytes_.data() + pos + 1, size);
      head.payload = pos + 1 + size;
    }
    return head;
  }

  // isPlainKey, looked at once per object however many dictionaries share
  // the key: a long key shared by thousands of them is scanned once.
  bool isPlainKeyOnce(std::uint64_t object, std::optional<std::string>& error) const {
    if (plainKeys_.empty()) plainKeys_.assign(count_, kUnknown);
    if (plainKeys_[object] == kUnknown) plainKeys_[object] = isPlainKey(object, error) ? kPlain : kNotPlain;
    return plainKeys_[object] == kPlain;
  }

  // An ASCII or UTF-16 string object without NUL characters.
  bool isPlainKey(std::uint64_t object, std::optional<std::string>& error) const {
    const auto head = header(object, error);
    if (!head || (head->type != 0x5 && head->type != 0x6)) return false;
    const std::uint64_t unit = head->type == 0x6 ? 2 : 1;
    if (head->count > (tableOffset_ - head->payload) / unit) {
      error = "binary plist string out of bounds";
      return false;
    }
    for (std::uint64_t i = 0; i < head->count; ++i) {
      const unsigned char* at = bytes_.data() + head->payload + i * unit;
      if (at[0] == 0 && (unit == 1 || at[1] == 0)) return false;
    }
    return true;
  }

  enum : unsigned char { kUnknown, kPlain, kNotPlain };
  mutable std::vector<unsigned char> plainKeys_;  // by object, filled as keys are met
  std::span<const unsigned char> bytes_;
  std::size_t offsetSize_ = 0;
  std::size_t refSize_ = 0;
  std::uint64_t count_ = 0;
  std::uint64_t top_ = 0;
  std::uint64_t tableOffset_ = 0;
};

}  // namespace

std::optional<std::string> checkBinary(std::span<const unsigned char> bytes, const BinaryBounds& bounds) {
  const std::size_t maxDepth = bounds.maxDepth;
  const std::size_t maxNodes = bounds.maxNodes;
  BinaryObjects objects;
  if (auto error = objects.open(bytes)) return error;
  // Every object of a table written by an encoder is reachable, so a table
  // longer than the node bound cannot be within it; refusing it here keeps
  // the bookkeeping below small for a small budget.
  if (objects.count() > maxNodes) return "property list has too many objects";

  // Depth-first walk with memoised depth and expanded cost per object, so a
  // heavily shared graph costs one visit per object, not per path: the cost
  // of an object is its own plus its children's, each child counted once
  // per reference to it.
  enum : unsigned char { kNew, kOpen, kDone };
  struct Visit {
    unsigned char state = kNew;
    std::uint32_t depth = 0;
    std::uint64_t nodes = 0;
    std::uint64_t expanded = 0;
  };
  // One table, not one per figure: every message the daemon reads comes
  // through here, and most are a dozen objects.
  std::vector<Visit> visits(objects.count());
  struct Frame {
    std::uint64_t object;
    std::vector<std::uint64_t> children;
    std::size_t next = 0;
  };
  std::vector<Frame> stack;
  std::optional<std::string> error;

  auto push = [&](std::uint64_t object) {
    visits[object].state = kOpen;
    stack.push_back({object, objects.children(object, error)});
  };
  push(objects.top());
  while (!stack.empty() && !error) {
    if (stack.size() > maxDepth + 1) return "property list nested too deeply";
    Frame& frame = stack.back();
    if (frame.next < frame.children.size()) {
      const std::uint64_t child = frame.children[frame.next++];
      if (visits[child].state == kOpen) return "binary plist refers to itself";
      if (visits[child].state == kNew) push(child);
      continue;
    }
    std::uint32_t d = 0;
    std::uint64_t n = 1;
    std::uint64_t size = objects.ownBytes(frame.object, error);
    if (size > bounds.maxExpandedBytes) return "property list expands to too many bytes";
    for (std::uint64_t child : frame.children) {
      const Visit& seen = visits[child];
      d = std::max(d, seen.depth + 1);
      // Both sums stay far from overflow: each term is within its bound.
      n += seen.nodes;
      size += seen.expanded;
      if (n > maxNodes) return "property list has too many objects";
      if (size > bounds.maxExpandedBytes) return "property list expands to too many bytes";
    }
    visits[frame.object] = {kDone, d, n, size};
    stack.pop_back();
  }
  if (error) return error;
  if (visits[objects.top()].depth > maxDepth) return "property list nested too deeply";
  return std::nullopt;
}

std::optional<std::string> checkXml(std::span<const unsigned char> bytes, std::size_t maxDepth,
                                    std::size_t maxNodes) {
  auto startsWith = [&](std::size_t at, const char* word) {
    const std::size_t n = std::strlen(word);
    return at + n <= bytes.size() && std::memcmp(bytes.data() + at, word, n) == 0;
  };
  auto isNameEnd = [&](std::size_t at) {
    return at >= bytes.size() || bytes[at] == '>' || bytes[at] == '/' || bytes[at] == ' ' ||
           bytes[at] == '\t' || bytes[at] == '\r' || bytes[at] == '\n';
  };
  std::size_t depth = 0;
  std::size_t elements = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '<' || i + 1 >= bytes.size()) continue;
    const unsigned char next = bytes[i + 1];
    if (next == '?' || next == '!') continue;
    const bool closing = next == '/';
    const std::size_t name = i + (closing ? 2 : 1);
    const bool container = (startsWith(name, "array") && isNameEnd(name + 5)) ||
                           (startsWith(name, "dict") && isNameEnd(name + 4));
    if (closing) {
      if (container && depth > 0) --depth;
      continue;
    }
    if (++elements > maxNodes) return "property list has too many objects";
    if (!container) continue;
    const void* end = std::memchr(bytes.data() + i, '>', bytes.size() - i);
    const bool selfClosing = end != nullptr && static_cast<const unsigned char*>(end)[-1] == '/';
    if (!selfClosing && ++depth > maxDepth) return "property list nested too deeply";
  }
  return std::nullopt;
}

}  // namespace bcn::plist_limits
