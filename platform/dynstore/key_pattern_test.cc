#include "platform/dynstore/key_pattern.h"

#include <gtest/gtest.h>

namespace bcn::dynstore {
namespace {

TEST(KeyPatternTest, MatchesOnlyWholeKeys) {
  const KeyPattern any("State:/Network/Interface/.*");
  EXPECT_TRUE(any.matches("State:/Network/Interface/eth0/IPv4"));
  EXPECT_FALSE(any.matches("State:/Network/Interface"));
  EXPECT_FALSE(any.matches("XState:/Network/Interface/eth0"));

  const KeyPattern global("State:/Network/Global/IPv[46]");
  EXPECT_TRUE(global.matches("State:/Network/Global/IPv4"));
  EXPECT_TRUE(global.matches("State:/Network/Global/IPv6"));
  EXPECT_FALSE(global.matches("State:/Network/Global/IPv44"));
  EXPECT_FALSE(global.matches("State:/Network/Global/IPv5"));

  const KeyPattern entity("Setup:/Network/Service/[^/]+/Interface");
  EXPECT_TRUE(entity.matches("Setup:/Network/Service/ABC/Interface"));
  EXPECT_FALSE(entity.matches("Setup:/Network/Service/ABC/x/Interface"));
  EXPECT_FALSE(entity.matches("Setup:/Network/Service//Interface"));
}

TEST(KeyPatternTest, AlternationTakesTheLongestMatch) {
  EXPECT_TRUE(KeyPattern("a|ab").matches("ab"));
  EXPECT_TRUE(KeyPattern("(x|xy)z?").matches("xyz"));
}

TEST(KeyPatternTest, BrokenPatternsAndHostileKeysMatchNothing) {
  const KeyPattern broken("State:/(");
  EXPECT_FALSE(broken.valid());
  EXPECT_FALSE(broken.matches("State:/("));
  EXPECT_FALSE(KeyPattern(".*").matches(std::string("a\0b", 3)));
  KeyPattern moved(KeyPattern("a+"));
  EXPECT_TRUE(moved.matches("aaa"));
}

TEST(KeyPatternTest, SelectionTakesKeysAndPatterns) {
  const KeySelection selection({"State:/Network/Interface"}, {"Setup:/Network/Service/.*", "("});
  EXPECT_TRUE(selection.contains("State:/Network/Interface"));
  EXPECT_TRUE(selection.contains("Setup:/Network/Service/A"));
  EXPECT_FALSE(selection.contains("State:/Network/Interface/eth0/Link"));
}

}  // namespace
}  // namespace bcn::dynstore
