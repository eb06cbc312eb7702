#include "tray-app/tray_view.h"

#include <gtest/gtest.h>

#include <QAction>

#include "tray-app/testing/canned_machine.h"

namespace bcn::tray {
namespace {

using testing::CannedMachine;
using testing::fingerprint;

// The menu's entries as text: "-" for a separator, "(x)" for a disabled one.
std::vector<std::string> entries(const QMenu& menu) {
  std::vector<std::string> result;
  for (const QAction* action : menu.actions()) {
    if (action->isSeparator()) {
      result.push_back("-");
    } else {
      const std::string text = action->text().toStdString();
      result.push_back(action->isEnabled() ? text : "(" + text + ")");
    }
  }
  return result;
}

// Pixels of `image` inside `area` whose colour is mostly `channel` (0 red,
// 1 green, 2 blue).
int pixelsLeaning(const QImage& image, const QRect& area, int channel) {
  int count = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.alpha() < 128) continue;
      const int values[] = {c.red(), c.green(), c.blue()};
      if (values[channel] > values[(channel + 1) % 3] + 30 && values[channel] > values[(channel + 2) % 3] + 30) ++count;
    }
  }
  return count;
}

TEST(TrayViewTest, TheMenuListsPinsFirstThenTheRestThePrimaryInterfacesAndQuit) {
  CannedMachine machine;
  machine.pins = std::vector<InterfaceFingerprint>{fingerprint("key-utun3", "utun3"), fingerprint("key-wg0", "wg0")};
  machine.configuration.primaryIPv4Interface = "en0";
  TrayModel model(machine.sources());
  QMenu menu;
  int quits = 0;
  MenuActions actions;
  actions.quit = [&] { ++quits; };
  fillMenu(menu, model, actions);
  EXPECT_EQ(entries(menu), (std::vector<std::string>{
                               "utun3  active  10.8.0.2 --> 10.8.0.1  fe80::1%7",
                               "(wg0  not present)",
                               "-",
                               "en0  active  192.168.1.20/24  fe80::21c:42ff:feab:cdef%en0/64",
                               "-",
                               "(Primary IPv4: en0)",
                               "(Primary IPv6: none)",
                               "-",
                               "Refresh public addresses",
                               "-",
                               "History…",
                               "Preferences…",
                               "Quit",
                           }));
  menu.actions().back()->trigger();
  EXPECT_EQ(quits, 1);

  // Filled again, nothing is left from before; the pins file's problem shows.
  machine.pins = std::unexpected(std::string("pins.json: not valid JSON"));
  model.reload();
  fillMenu(menu, model, {});
  const auto again = entries(menu);
  ASSERT_EQ(again.size(), 13u);
  EXPECT_EQ(again[0], "en0  active  192.168.1.20/24  fe80::21c:42ff:feab:cdef%en0/64");
  EXPECT_EQ(again[6], "(Pins not used: pins.json: not valid JSON)");
}

TEST(TrayViewTest, TheIconDrawsInAboveOutAndTheTooltipFollowsTheModel) {
  CannedMachine machine;
  machine.configuration.primaryIPv4Interface = "en0";
  machine.count("en0", 0, 0);
  TrayModel model(machine.sources());
  TrayView view(model, [] {});
  EXPECT_EQ(view.trayIcon().toolTip().toStdString(), "en0: active");

  // No rate yet: a grey dash, no colour.
  const QImage idle = drawRateIcon(model.iconRow(), RateUnit::bytes, 22);
  EXPECT_EQ(pixelsLeaning(idle, idle.rect(), 1) + pixelsLeaning(idle, idle.rect(), 2), 0);

  machine.now += 1;
  machine.count("en0", 5'000'000, 3000);
  model.tick();
  EXPECT_EQ(view.trayIcon().toolTip().toStdString(), "en0: ↓ 4.77 MiB/s  ↑ 2.93 KiB/s");
  const QImage busy = drawRateIcon(model.iconRow(), RateUnit::bytes, 22);
  const QRect top(0, 0, 22, 11), bottom(0, 11, 22, 11);
  EXPECT_GT(pixelsLeaning(busy, top, 1), 0);
  EXPECT_EQ(pixelsLeaning(busy, top, 2), 0);
  EXPECT_GT(pixelsLeaning(busy, bottom, 2), 0);
  EXPECT_EQ(pixelsLeaning(busy, bottom, 1), 0);
  // Another rate is another picture.
  EXPECT_NE(drawRateIcon(model.iconRow(), RateUnit::bits, 22), busy);
}

TEST(TrayViewTest, CompactRatesFitTheIcon) {
  EXPECT_EQ(compactRate(0, RateUnit::bytes), "0");
  EXPECT_EQ(compactRate(5'000'000, RateUnit::bytes), "4.8M");
  EXPECT_EQ(compactRate(100, RateUnit::bits), "800");
  EXPECT_EQ(compactRate(125, RateUnit::bits), "1.0k");
  EXPECT_EQ(compactRate(1'250'000, RateUnit::bits), "10M");
  EXPECT_EQ(compactRate(-1, RateUnit::bits), "-");
}

}  // namespace
}  // namespace bcn::tray
