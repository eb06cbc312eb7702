// KeyPattern: a POSIX extended regular expression that must match a whole
// dynamic-store key, as the store's pattern reads and notifications use it.
//
// Immutable after construction; matches() may be called from several
// threads at once (regexec does not modify the compiled pattern).
#pragma once

#include <regex.h>

#include <string>
#include <string_view>
#include <vector>

namespace bcn::dynstore {

class KeyPattern {
 public:
  explicit KeyPattern(const std::string& pattern);
  ~KeyPattern();
  KeyPattern(KeyPattern&& other) noexcept;
  KeyPattern& operator=(KeyPattern&&) = delete;
  KeyPattern(const KeyPattern&) = delete;
  KeyPattern& operator=(const KeyPattern&) = delete;

  // False for a pattern that does not compile: it matches nothing.
  bool valid() const { return valid_; }
  // True when the pattern matches all of `key`, not only a part.
  bool matches(const std::string& key) const;

 private:
  regex_t regex_{};
  bool valid_ = false;
};

// The keys and patterns one read or one subscription is interested in.
class KeySelection {
 public:
  KeySelection(std::vector<std::string> keys, const std::vector<std::string>& patterns);
  bool contains(const std::string& key) const;

 private:
  std::vector<std::string> keys_;
  std::vector<KeyPattern> patterns_;
};

}  // namespace bcn::dynstore
