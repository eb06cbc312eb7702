#include "tray-app/tray_model.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

#include "admin-app/testing/qt_wait.h"
#include "platform/testing/test_support.h"
#include "tools/beaconbar/history_file.h"
#include "tray-app/testing/canned_machine.h"

namespace bcn::tray {
namespace {

using testing::CannedMachine;
using testing::fingerprint;

std::vector<std::string> names(const TrayModel& model) {
  std::vector<std::string> result;
  for (const InterfaceRow& row : model.rows()) result.push_back(row.name);
  return result;
}

TEST(TrayModelTest, RatesTickInTheChosenUnitAndOnlyChangesAreAnnounced) {
  CannedMachine machine;
  machine.count("en0", 1000, 1000);
  machine.configuration.primaryIPv4Interface = "en0";
  TrayModel model(machine.sources());
  QSignalSpy changed(&model, &TrayModel::changed);
  ASSERT_EQ(names(model), (std::vector<std::string>{"en0", "utun3"}));
  EXPECT_FALSE(model.rows()[0].rate);
  EXPECT_EQ(model.toolTip().toStdString(), "en0: active");

  machine.now += 1;
  machine.count("en0", 1000 + 2048, 1000 + 512);
  model.tick();
  EXPECT_EQ(changed.count(), 1);
  ASSERT_TRUE(model.rows()[0].rate);
  EXPECT_EQ(model.toolTip().toStdString(), "en0: ↓ 2.00 KiB/s  ↑ 512 B/s");

  model.setRateUnit(RateUnit::bits);
  EXPECT_EQ(changed.count(), 2);
  EXPECT_EQ(model.toolTip().toStdString(), "en0: ↓ 16.4 kbit/s  ↑ 4.1 kbit/s");
  model.setRateUnit(RateUnit::bits);
  EXPECT_EQ(changed.count(), 2);

  // The same rate again changes nothing shown; an idle second does.
  machine.now += 1;
  machine.count("en0", 1000 + 4096, 1000 + 1024);
  model.tick();
  EXPECT_EQ(changed.count(), 2);
  machine.now += 1;
  model.tick();
  EXPECT_EQ(changed.count(), 3);
  EXPECT_EQ(model.toolTip().toStdString(), "en0: ↓ 0 bit/s  ↑ 0 bit/s");
  // Ticks read link identities only when the links change.
  EXPECT_EQ(machine.fingerprintReads, 1);
  machine.interfaces.pop_back();
  machine.now += 1;
  model.tick();
  EXPECT_EQ(machine.fingerprintReads, 2);
  EXPECT_EQ(names(model), (std::vector<std::string>{"en0"}));
}

TEST(TrayModelTest, AWatcherNotificationReadsConfigurationAndPinsAgain) {
  CannedMachine machine;
  machine.configuration.primaryIPv4Interface = "en0";
  TrayModel model(machine.sources());
  ASSERT_EQ(names(model), (std::vector<std::string>{"en0", "utun3"}));
  ASSERT_EQ(model.iconRow()->name, "en0");

  // The tunnel is pinned and becomes the primary interface; the model
  // learns of it only through the watcher, not by polling.
  machine.pins = std::vector<InterfaceFingerprint>{fingerprint("key-utun3", "utun3")};
  machine.configuration.primaryIPv4Interface = "utun3";
  model.tick();
  EXPECT_EQ(model.primaryIPv4(), "en0");
  EXPECT_EQ(names(model), (std::vector<std::string>{"en0", "utun3"}));

  machine.fire({"State:/Network/Global/IPv4"});
  ASSERT_TRUE(bcn::testing::waitUntil([&] { return model.primaryIPv4() == "utun3"; }));
  EXPECT_EQ(names(model), (std::vector<std::string>{"utun3", "en0"}));
  EXPECT_TRUE(model.rows()[0].pinned);
  EXPECT_EQ(model.iconRow()->name, "utun3");
}

TEST(TrayModelTest, ADamagedPinsFileLeavesTheMenuUnpinnedAndSaysWhy) {
  CannedMachine machine;
  machine.pins = std::unexpected(std::string("pins.json: pin 1: no key"));
  TrayModel model(machine.sources());
  EXPECT_EQ(model.pinsProblem(), "pins.json: pin 1: no key");
  EXPECT_EQ(names(model), (std::vector<std::string>{"en0", "utun3"}));
  EXPECT_FALSE(model.rows()[0].pinned);

  machine.pins = std::vector<InterfaceFingerprint>{fingerprint("key-gone", "wg0")};
  model.reload();
  EXPECT_EQ(model.pinsProblem(), "");
  EXPECT_EQ(names(model), (std::vector<std::string>{"wg0", "en0", "utun3"}));
  EXPECT_FALSE(model.rows()[0].present);
  // No primary interface and the only pin gone: nothing to draw.
  EXPECT_EQ(model.iconRow(), nullptr);
  EXPECT_EQ(model.toolTip().toStdString(), "No interface to show");
}

TEST(TrayModelTest, ANotificationForAModelAlreadyGoneDoesNothing) {
  CannedMachine machine;
  auto model = std::make_unique<TrayModel>(machine.sources());
  QSignalSpy changed(model.get(), &TrayModel::changed);
  // Queued while the model lives, delivered after it is gone.
  machine.fire({"State:/Network/Interface"});
  model.reset();
  bcn::testing::settle();
  EXPECT_EQ(changed.count(), 0);
  // The watcher went with the model: later changes reach nobody.
  machine.fire({"State:/Network/Interface"});
  bcn::testing::settle();
}

TEST(TrayModelTest, RecordsTheHistoryOnlyWhileNoOtherRecorderHoldsIt) {
  bcn::testing::TempDir dir;
  CannedMachine machine;
  machine.historyFile = dir / "history.plist";
  machine.count("en0", 0, 0);
  auto other = cli::HistoryFileLock::tryAcquire(machine.historyFile);
  ASSERT_TRUE(other && other->has_value());
  {
    TrayModel model(machine.sources());
    EXPECT_FALSE(model.recording());
    EXPECT_EQ(model.recordingProblem(), "");
    // The other recorder's traffic: shown here, recorded there.
    machine.now += 1;
    machine.count("en0", 5000, 0);
    model.tick();
    ASSERT_TRUE(model.rows()[0].rate);
    EXPECT_FALSE(std::filesystem::exists(machine.historyFile));

    other->reset();
    ASSERT_TRUE(bcn::testing::waitUntil([&] { return model.recording(); }));
    machine.now += 1;
    machine.count("en0", 5000 + 1200, 0);
    model.tick();
    EXPECT_FALSE(cli::HistoryFileLock::tryAcquire(machine.historyFile)->has_value());
  }
  // Saved when the model went; only what came after the takeover.
  auto saved = cli::readHistoryFile(machine.historyFile);
  ASSERT_TRUE(saved) << saved.error();
  EXPECT_EQ(saved->at("en0").aggregate(3600, Date{machine.now}).bytesIn, 1200u);
  EXPECT_TRUE(cli::HistoryFileLock::tryAcquire(machine.historyFile)->has_value());

  // A damaged file is reported and left alone.
  bcn::testing::writeText(machine.historyFile, "bplist00 damaged");
  {
    TrayModel model(machine.sources());
    EXPECT_FALSE(model.recording());
    EXPECT_NE(model.recordingProblem().find("damaged"), std::string::npos) << model.recordingProblem();
    machine.now += 1;
    model.tick();
  }
  EXPECT_EQ(bcn::testing::readText(machine.historyFile), "bplist00 damaged");
}

}  // namespace
}  // namespace bcn::tray
