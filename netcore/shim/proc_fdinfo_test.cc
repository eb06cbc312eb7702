#include "netcore/shim/proc_fdinfo.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "netcore/shim/testing/fake_proc_tree.h"

namespace bcn {
namespace {

using ::bcn::testing::tunFdinfo;

TEST(TunInterfaceFromFdinfo, ReadsTheIffLineTheKernelWrites) {
  EXPECT_EQ(tunInterfaceFromFdinfo(tunFdinfo("utun3")), "utun3");
  EXPECT_EQ(tunInterfaceFromFdinfo(tunFdinfo("tailscale0")), "tailscale0");
  EXPECT_EQ(tunInterfaceFromFdinfo(tunFdinfo("wg-äö")), "wg-äö");
  // Last line without its newline, and blanks other than one tab.
  EXPECT_EQ(tunInterfaceFromFdinfo("pos:\t0\niff:  \t wg0"), "wg0");
  // The first iff line decides.
  EXPECT_EQ(tunInterfaceFromFdinfo("iff:\ttun1\niff:\ttun2\n"), "tun1");
}

TEST(TunInterfaceFromFdinfo, OtherDescriptorsAndDetachedQueuesHaveNone) {
  EXPECT_EQ(tunInterfaceFromFdinfo("pos:\t0\nflags:\t02\nmnt_id:\t24\nino:\t3\n"), std::nullopt);
  EXPECT_EQ(tunInterfaceFromFdinfo(""), std::nullopt);
  // The tag must open the line.
  EXPECT_EQ(tunInterfaceFromFdinfo("pos:\t0\n xiff:\ttun0\ntiff:\ttun0\n"), std::nullopt);
  // Without its colon it is some other field.
  EXPECT_EQ(tunInterfaceFromFdinfo("iff\ttun0\n"), std::nullopt);
}

TEST(TunInterfaceFromFdinfo, RefusesNamesTheKernelNeverGives) {
  using namespace std::string_literals;
  for (const std::string& bad : {"iff:"s, "iff:\t\n"s, "iff:\t.\n"s, "iff:\t..\n"s, "iff:\ta/b\n"s,
                                "iff:\ta:b\n"s, "iff:\ttun 0\n"s, "iff:\ttun0 \n"s, "iff:\ttun0\r\n"s,
                                "iff:\tabcdefghijklmnop\n"s, "iff:\ttu\0n\n"s}) {
    EXPECT_EQ(tunInterfaceFromFdinfo(bad), std::nullopt) << bad;
  }
  // Exactly fifteen bytes is the longest name there is.
  EXPECT_EQ(tunInterfaceFromFdinfo("iff:\tabcdefghijklmno\n"), "abcdefghijklmno");
}

TEST(TunnelUnitFromName, IsTheIndexPlusOneForUtunNames) {
  EXPECT_EQ(tunnelUnitFromName("utun0"), 1u);
  EXPECT_EQ(tunnelUnitFromName("utun11"), 12u);
  EXPECT_EQ(tunnelUnitFromName("utun4294967294"), std::numeric_limits<std::uint32_t>::max());
}

TEST(TunnelUnitFromName, IsZeroWhenTheUnitWouldNotGiveTheNameBack) {
  for (const char* name : {"", "utun", "tun0", "wg0", "utun03", "utun00", "utun-1", "utun1a",
                           "Utun1", "utun4294967295", "utun99999999999"}) {
    EXPECT_EQ(tunnelUnitFromName(name), 0u) << name;
  }
}

}  // namespace
}  // namespace bcn
