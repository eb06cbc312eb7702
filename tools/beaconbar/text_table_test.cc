#include "tools/beaconbar/text_table.h"

#include <gtest/gtest.h>

namespace bcn::cli {
namespace {

TEST(TextTableTest, ColumnsAlignOnTheWidestCellWithoutTrailingBlanks) {
  TextTable table("  ");
  table.addRow({"INTERFACE", "PID", "PATH"});
  table.addRow({"tun0", "12345", "/usr/sbin/openvpn"});
  table.addRow({"wg-büro", "7", ""});
  EXPECT_EQ(table.render(),
            "  INTERFACE  PID    PATH\n"
            "  tun0       12345  /usr/sbin/openvpn\n"
            "  wg-büro    7\n");
}

TEST(TextTableTest, WidthCountsCodePointsNotBytes) {
  EXPECT_EQ(displayWidth("büro"), 4u);
  EXPECT_EQ(padRight("büro", 6), "büro  ");
  EXPECT_EQ(padRight("toolong", 3), "toolong");
  EXPECT_EQ(truncateToWidth("wg-büro", 5), "wg-bü");
  EXPECT_EQ(truncateToWidth("wg-büro", 7), "wg-büro");
  EXPECT_EQ(truncateToWidth("wg-büro", 0), "");
}

}  // namespace
}  // namespace bcn::cli
