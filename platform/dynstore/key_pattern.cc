#include "platform/dynstore/key_pattern.h"

#include <algorithm>

namespace bcn::dynstore {

KeyPattern::KeyPattern(const std::string& pattern) {
  valid_ = ::regcomp(&regex_, pattern.c_str(), REG_EXTENDED) == 0;
}

KeyPattern::~KeyPattern() {
  if (valid_) ::regfree(&regex_);
}

KeyPattern::KeyPattern(KeyPattern&& other) noexcept : regex_(other.regex_), valid_(other.valid_) {
  other.valid_ = false;
}

bool KeyPattern::matches(const std::string& key) const {
  if (!valid_ || key.find('\0') != std::string::npos) return false;
  // POSIX matching is leftmost-longest, so the match starting at 0 is the
  // longest one there: the key matches as a whole exactly when it spans all.
  regmatch_t match{};
  if (::regexec(&regex_, key.c_str(), 1, &match, 0) != 0) return false;
  return match.rm_so == 0 && static_cast<std::size_t>(match.rm_eo) == key.size();
}

KeySelection::KeySelection(std::vector<std::string> keys, const std::vector<std::string>& patterns)
    : keys_(std::move(keys)) {
  patterns_.reserve(patterns.size());
  for (const std::string& pattern : patterns) patterns_.emplace_back(pattern);
}

bool KeySelection::contains(const std::string& key) const {
  return std::ranges::find(keys_, key) != keys_.end() ||
         std::ranges::any_of(patterns_, [&](const KeyPattern& p) { return p.matches(key); });
}

}  // namespace bcn::dynstore
