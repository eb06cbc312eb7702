// Conversion between PlistValue and libplist nodes, and the byte codecs.

#include <plist/plist.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/plist.h"
#include "platform/plist_budget.h"
#include "platform/plist_limits.h"
#include "platform/utf8.h"

namespace bcn {
namespace {

struct NodeDeleter {
  void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using Node = std::unique_ptr<void, NodeDeleter>;

template <typename T>
using Result = std::expected<T, PlatformError>;

PlatformError encodeError(const std::string& what) {
  return PlatformError::corruptData("cannot encode property list: " + what);
}

PlatformError decodeError(const std::string& what) {
  return PlatformError::corruptData("not a valid property list: " + what);
}

// libplist 2.2 writes every integer it is handed as 8 bytes, which readers
// take as signed; a 16-byte (unsigned) integer node only comes out of its
// parsers. So values above INT64_MAX are made by parsing their XML form.
Result<Node> newUnsignedAboveInt64(std::uint64_t n) {
  const std::string xml = "<plist version=\"1.0\"><integer>" + std::to_string(n) + "</integer></plist>";
  plist_t node = nullptr;
  plist_from_xml(xml.c_str(), static_cast<std::uint32_t>(xml.size()), &node);
  if (node == nullptr) return std::unexpected(encodeError("integer " + std::to_string(n)));
  return Node(node);
}

// The node's own binary encoding from its first object on (past the
// "bplist00" header). libplist keeps details its getters do not expose, and
// its encoder writes them out.
std::vector<unsigned char> encodedObject(plist_t node) {
  char* bin = nullptr;
  std::uint32_t size = 0;
  plist_to_bin(node, &bin, &size);
  std::vector<unsigned char> object;
  if (bin != nullptr && size > 8) object.assign(bin + 8, bin + size);
  if (bin != nullptr) plist_to_bin_free(bin);
  return object;
}

// Whether an integer node holding a value above INT64_MAX came from a
// 16-byte (unsigned) integer rather than a negative 8-byte one.
bool isSixteenByteInteger(plist_t node) {
  const auto object = encodedObject(node);
  return !object.empty() && object[0] == 0x14;
}

// The exact seconds of a date node. libplist 2.2 hands dates out as whole
// seconds plus an unsigned microsecond part, which loses the sign of the
// fraction for dates before 2001; the encoding keeps the double itself.
double dateSeconds(plist_t node) {
  const auto object = encodedObject(node);
  if (object.size() >= 9 && object[0] == 0x33) {
    std::uint64_t bits = 0;
    for (int i = 1; i < 9; ++i) bits = (bits << 8) | object[static_cast<std::size_t>(i)];
    double seconds = 0;
    std::memcpy(&seconds, &bits, sizeof seconds);
    return seconds;
  }
  std::int32_t sec = 0;
  std::int32_t usec = 0;
  plist_get_date_val(node, &sec, &usec);
  return sec + usec / 1e6;
}

// Why `text` (a string value or a dictionary key) cannot be written, if it
// cannot. libplist takes strings as NUL-terminated C strings, so a NUL byte
// would silently cut the text short. It passes string bytes through
// unchecked on the way in but converts them to UTF-16 on the way out, so
// text that is not UTF-8 would be written as a file nobody can read back.
std::optional<std::string> textProblem(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) return "contains a NUL byte";
  if (!utf8::isValid(text)) return "is not valid UTF-8";
  return std::nullopt;
}

// A date as libplist keeps it, whole seconds (32-bit) plus microseconds;
// nothing when it does not fit. Decoding refuses the same dates encoding
// does, so every value read from a file can be written back.
std::optional<std::pair<std::int32_t, std::int32_t>> dateParts(double seconds) {
  const double whole = std::floor(seconds);
  if (!std::isfinite(seconds) || whole < INT32_MIN || whole > INT32_MAX) return std::nullopt;
  auto sec = static_cast<std::int32_t>(whole);
  auto usec = static_cast<std::int32_t>(std::lround((seconds - whole) * 1e6));
  if (usec >= 1'000'000) {
    if (sec == INT32_MAX) return std::nullopt;
    ++sec;
    usec -= 1'000'000;
  }
  return std::pair{sec, usec};
}

Result<Node> toNode(const PlistValue& value, std::size_t depth);

Result<Node> containerToNode(const PlistValue& value, std::size_t depth) {
  if (depth >= PlistLimits::kMaxDepth) return std::unexpected(encodeError("nested too deeply"));
  if (const PlistArray* array = value.array()) {
    Node node(plist_new_array());
    for (const PlistValue& item : *array) {
      auto child = toNode(item, depth + 1);
      if (!child) return child;
      plist_array_append_item(node.get(), child->release());
    }
    return node;
  }
  Node node(plist_new_dict());
  for (const auto& [key, item] : *value.dictionary()) {
    if (auto problem = textProblem(key)) return std::unexpected(encodeError("dictionary key " + *problem));
    auto child = toNode(item, depth + 1);
    if (!child) return child;
    plist_dict_set_item(node.get(), key.c_str(), child->release());
  }
  return node;
}

Result<Node> toNode(const PlistValue& value, std::size_t depth) {
  switch (value.kind()) {
    case PlistValue::Kind::text:
      if (auto problem = textProblem(*value.text())) return std::unexpected(encodeError("text " + *problem));
      return Node(plist_new_string(value.text()->c_str()));
    case PlistValue::Kind::boolean:
      return Node(plist_new_bool(*value.boolean() ? 1 : 0));
    case PlistValue::Kind::integer:
      if (auto n = value.int64()) return Node(plist_new_uint(static_cast<std::uint64_t>(*n)));
      return newUnsignedAboveInt64(*value.uint64());
    case PlistValue::Kind::real:
      return Node(plist_new_real(*value.real()));
    case PlistValue::Kind::date: {
      const auto parts = dateParts(value.date()->secondsSince2001);
      if (!parts) return std::unexpected(encodeError("date out of range"));
      return Node(plist_new_date(parts->first, parts->second));
    }
    case PlistValue::Kind::data:
      return Node(plist_new_data(reinterpret_cast<const char*>(value.data()->data()), value.data()->size()));
    case PlistValue::Kind::array:
    case PlistValue::Kind::dictionary:
      return containerToNode(value, depth);
  }
  return std::unexpected(encodeError("unknown value kind"));
}

Result<PlistValue> fromNode(plist_t node, std::size_t depth) {
  if (depth > PlistLimits::kMaxDepth) return std::unexpected(decodeError("nested too deeply"));
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      std::uint8_t b = 0;
      plist_get_bool_val(node, &b);
      return PlistValue(b != 0);
    }
    case PLIST_UINT: {
      std::uint64_t n = 0;
      plist_get_uint_val(node, &n);
      if (n <= static_cast<std::uint64_t>(INT64_MAX) || isSixteenByteInteger(node)) return PlistValue(n);
      return PlistValue(static_cast<std::int64_t>(n));
    }
    case PLIST_REAL: {
      double d = 0;
      plist_get_real_val(node, &d);
      return PlistValue(d);
    }
    case PLIST_STRING: {
      std::uint64_t length = 0;
      const char* text = plist_get_string_ptr(node, &length);
      std::string value(text != nullptr ? text : "", text != nullptr ? length : 0);
      if (auto problem = textProblem(value)) return std::unexpected(decodeError("text " + *problem));
      return PlistValue(std::move(value));
    }
    case PLIST_DATE: {
      // Kept at the microseconds the encoder writes, so a decoded value
      // re-encodes to itself: a peer's call echoed back must compare equal.
      const auto parts = dateParts(dateSeconds(node));
      if (!parts) return std::unexpected(decodeError("date out of range"));
      return PlistValue(Date{parts->first + parts->second / 1e6});
    }
    case PLIST_DATA: {
      std::uint64_t length = 0;
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(plist_get_data_ptr(node, &length));
      return PlistValue(bytes != nullptr ? PlistData(bytes, bytes + length) : PlistData{});
    }
    case PLIST_ARRAY: {
      PlistArray array;
      const std::uint32_t size = plist_array_get_size(node);
      array.reserve(size);
      for (std::uint32_t i = 0; i < size; ++i) {
        auto item = fromNode(plist_array_get_item(node, i), depth + 1);
        if (!item) return item;
        array.push_back(std::move(*item));
      }
      return PlistValue(std::move(array));
    }
    case PLIST_DICT: {
      std::vector<PlistDictionary::Entry> entries;
      entries.reserve(plist_dict_get_size(node));
      plist_dict_iter iter = nullptr;
      plist_dict_new_iter(node, &iter);
      std::unique_ptr<void, decltype(&std::free)> iterOwner(iter, &std::free);
      for (;;) {
        char* key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, iter, &key, &item);
        std::unique_ptr<char, decltype(&std::free)> keyOwner(key, &std::free);
        if (item == nullptr) break;
        if (key != nullptr && !utf8::isValid(key)) {
          return std::unexpected(decodeError("dictionary key is not valid UTF-8"));
        }
        auto value = fromNode(item, depth + 1);
        if (!value) return value;
        entries.emplace_back(key != nullptr ? key : "", std::move(*value));
      }
      return PlistValue(PlistDictionary::fromEntries(std::move(entries)));
    }
    default:
      return std::unexpected(decodeError("unsupported node kind"));
  }
}

}  // namespace

std::expected<PlistData, PlatformError> encodeBinaryPlist(const PlistValue& value) {
  auto node = toNode(value, 0);
  if (!node) return std::unexpected(node.error());
  char* bytes = nullptr;
  std::uint32_t size = 0;
  plist_to_bin(node->get(), &bytes, &size);
  if (bytes == nullptr) return std::unexpected(encodeError("the encoder produced nothing"));
  PlistData result(bytes, bytes + size);
  plist_to_bin_free(bytes);
  return result;
}

std::expected<std::string, PlatformError> encodeXmlPlist(const PlistValue& value) {
  auto node = toNode(value, 0);
  if (!node) return std::unexpected(node.error());
  char* text = nullptr;
  std::uint32_t size = 0;
  plist_to_xml(node->get(), &text, &size);
  if (text == nullptr) return std::unexpected(encodeError("the encoder produced nothing"));
  std::string result(text, size);
  plist_to_xml_free(text);
  return result;
}

std::expected<PlistValue, PlatformError> decodePlist(std::span<const std::uint8_t> bytes) {
  return decodePlistWithin(bytes, PlistBudget{});
}

std::expected<PlistValue, PlatformError> decodePlistWithin(std::span<const std::uint8_t> bytes,
                                                           const PlistBudget& budget) {
  if (bytes.size() > budget.maxInputBytes) return std::unexpected(decodeError("too large"));
  static constexpr char kMagic[] = "bplist00";
  const bool binary = bytes.size() >= 8 && std::memcmp(bytes.data(), kMagic, 8) == 0;
  // The conversion out of libplist recurses, and stops at
  // PlistLimits::kMaxDepth whatever the budget says.
  const std::size_t depth = std::min(budget.maxDepth, PlistLimits::kMaxDepth);
  const auto problem =
      binary ? plist_limits::checkBinary(bytes, {depth, budget.maxNodes, budget.maxExpandedBytes})
             : plist_limits::checkXml(bytes, depth, std::min(budget.maxXmlElements, budget.maxNodes));
  if (problem) return std::unexpected(decodeError(*problem));

  // A private, NUL-terminated copy: the parsers never read past our buffer.
  const std::string copy(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  plist_t root = nullptr;
  const auto size = static_cast<std::uint32_t>(copy.size());
  if (binary) {
    plist_from_bin(copy.data(), size, &root);
  } else {
    plist_from_xml(copy.data(), size, &root);
  }
  if (root == nullptr) return std::unexpected(decodeError(binary ? "malformed binary data" : "malformed XML"));
  Node owner(root);
  return fromNode(root, 0);
}

}  // namespace bcn
