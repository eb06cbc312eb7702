#include "platform/plist.h"

#include <algorithm>
#include <functional>
#include <unordered_map>
#include <utility>

namespace bcn {

PlistDictionary::PlistDictionary(std::initializer_list<Entry> entries)
    : PlistDictionary(fromEntries(std::vector<Entry>(entries))) {}

PlistDictionary PlistDictionary::fromEntries(std::vector<Entry> entries) {
  PlistDictionary dictionary;
  // The few keys of a message are compared directly, and kept as they came
  // when none repeats; an index only pays off for larger dictionaries.
  constexpr std::size_t kCompareDirectlyUpTo = 16;
  if (entries.size() <= kCompareDirectlyUpTo) {
    bool repeated = false;
    for (std::size_t i = 1; i < entries.size() && !repeated; ++i) {
      for (std::size_t j = 0; j < i && !repeated; ++j) repeated = entries[i].first == entries[j].first;
    }
    if (!repeated) {
      dictionary.entries_ = std::move(entries);
      return dictionary;
    }
  }
  dictionary.entries_.reserve(entries.size());
  // Views into the kept keys: entries_ never reallocates after the reserve.
  std::unordered_map<std::string_view, std::size_t> position;
  position.reserve(entries.size());
  for (auto& entry : entries) {
    if (const auto it = position.find(entry.first); it != position.end()) {
      dictionary.entries_[it->second].second = std::move(entry.second);
      continue;
    }
    dictionary.entries_.push_back(std::move(entry));
    position.emplace(dictionary.entries_.back().first, dictionary.entries_.size() - 1);
  }
  return dictionary;
}

void PlistDictionary::set(std::string key, PlistValue value) {
  for (auto& entry : entries_) {
    if (entry.first == key) {
      entry.second = std::move(value);
      return;
    }
  }
  entries_.emplace_back(std::move(key), std::move(value));
}

std::size_t PlistDictionary::size() const { return entries_.size(); }
bool PlistDictionary::empty() const { return entries_.empty(); }
const PlistDictionary::Entry* PlistDictionary::begin() const { return entries_.data(); }
const PlistDictionary::Entry* PlistDictionary::end() const { return entries_.data() + entries_.size(); }

const PlistValue* PlistDictionary::find(std::string_view key) const {
  for (const auto& entry : entries_) {
    if (entry.first == key) return &entry.second;
  }
  return nullptr;
}

PlistValue* PlistDictionary::find(std::string_view key) {
  return const_cast<PlistValue*>(std::as_const(*this).find(key));
}

bool PlistDictionary::erase(std::string_view key) {
  const auto it = std::find_if(entries_.begin(), entries_.end(),
                               [&](const Entry& e) { return e.first == key; });
  if (it == entries_.end()) return false;
  entries_.erase(it);
  return true;
}

bool PlistDictionary::operator==(const PlistDictionary& other) const {
  if (entries_.size() != other.entries_.size()) return false;
  // Keys are unique on both sides, so matching every key of this side
  // against the other side's index decides equality.
  std::unordered_map<std::string_view, const PlistValue*> theirs;
  theirs.reserve(other.entries_.size());
  for (const auto& [key, value] : other.entries_) theirs.emplace(key, &value);
  return std::all_of(entries_.begin(), entries_.end(), [&](const Entry& e) {
    const auto it = theirs.find(e.first);
    return it != theirs.end() && *it->second == e.second;
  });
}

PlistValue::Kind PlistValue::kind() const {
  static constexpr Kind kinds[] = {Kind::text,  Kind::boolean, Kind::integer,
                                   Kind::integer, Kind::real,  Kind::date,
                                   Kind::data,  Kind::array,   Kind::dictionary};
  return kinds[value_.index()];
}

std::optional<bool> PlistValue::boolean() const {
  if (const bool* b = std::get_if<bool>(&value_)) return *b;
  return std::nullopt;
}

std::optional<std::int64_t> PlistValue::int64() const {
  if (const auto* n = std::get_if<std::int64_t>(&value_)) return *n;
  return std::nullopt;  // the unsigned alternative only holds values above INT64_MAX
}

std::optional<std::uint64_t> PlistValue::uint64() const {
  if (const auto* n = std::get_if<std::int64_t>(&value_)) {
    if (*n < 0) return std::nullopt;
    return static_cast<std::uint64_t>(*n);
  }
  if (const auto* n = std::get_if<std::uint64_t>(&value_)) return *n;
  return std::nullopt;
}

std::optional<double> PlistValue::real() const {
  if (const double* d = std::get_if<double>(&value_)) return *d;
  return std::nullopt;
}

std::optional<Date> PlistValue::date() const {
  if (const Date* d = std::get_if<Date>(&value_)) return *d;
  return std::nullopt;
}

std::expected<PlistValue, PlatformError> decodePlist(std::string_view bytes) {
  return decodePlist(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

}  // namespace bcn

namespace {

std::size_t combine(std::size_t seed, std::size_t h) {
  return seed ^ (h + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
}

}  // namespace

std::size_t std::hash<bcn::PlistValue>::operator()(const bcn::PlistValue& v) const noexcept {
  using Kind = bcn::PlistValue::Kind;
  std::size_t h = static_cast<std::size_t>(v.kind());
  switch (v.kind()) {
    case Kind::text:
      return combine(h, std::hash<std::string>{}(*v.text()));
    case Kind::boolean:
      return combine(h, *v.boolean() ? 1 : 2);
    case Kind::integer:
      if (auto n = v.int64()) return combine(h, std::hash<std::int64_t>{}(*n));
      return combine(h, std::hash<std::uint64_t>{}(*v.uint64()));
    case Kind::real:
      return combine(h, std::hash<double>{}(*v.real()));
    case Kind::date:
      return combine(h, std::hash<bcn::Date>{}(*v.date()));
    case Kind::data:
      return combine(h, std::hash<std::string_view>{}(std::string_view(
                            reinterpret_cast<const char*>(v.data()->data()), v.data()->size())));
    case Kind::array:
      for (const auto& item : *v.array()) h = combine(h, (*this)(item));
      return h;
    case Kind::dictionary: {
      // Order-independent, to agree with dictionary equality.
      std::size_t sum = 0;
      for (const auto& [key, value] : *v.dictionary()) {
        sum += combine(std::hash<std::string>{}(key), (*this)(value));
      }
      return combine(h, sum);
    }
  }
  return h;
}
