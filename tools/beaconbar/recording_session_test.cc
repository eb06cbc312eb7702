#include "tools/beaconbar/recording_session.h"

#include <gtest/gtest.h>

#include <optional>

#include "platform/testing/test_support.h"

namespace bcn::cli {
namespace {

using bcn::testing::TempDir;

std::vector<InterfaceSnapshot> reading(std::uint64_t bytesIn) {
  InterfaceSnapshot s;
  s.name = "en0";
  s.counters.bytesIn = bytesIn;
  return {s};
}

std::uint64_t savedBytesIn(const std::filesystem::path& file, double now) {
  auto histories = readHistoryFile(file);
  EXPECT_TRUE(histories) << histories.error();
  if (!histories || !histories->contains("en0")) return 0;
  return histories->at("en0").aggregate(3600, Date{now}).bytesIn;
}

constexpr double kSessionStart = 5000;

// A session that can be ended in the middle of a test, as a process ends.
std::optional<RecordingSession> openSession(const std::filesystem::path& file, double now) {
  auto session = RecordingSession::open(file, 10, Date{now});
  EXPECT_TRUE(session) << session.error();
  if (!session) return std::nullopt;
  return std::move(*session);
}

TEST(RecordingSessionTest, OneRecordsTheOtherStandsByAndTakesOverFromTheSavedFile) {
  TempDir dir;
  const auto file = dir / "history.plist";
  auto holder = openSession(file, kSessionStart);
  ASSERT_TRUE(holder && holder->recording());
  auto standby = openSession(file, kSessionStart);
  ASSERT_TRUE(standby);
  EXPECT_FALSE(standby->recording());

  for (RecordingSession* session : {&*holder, &*standby}) {
    session->record(reading(1000), Date{kSessionStart});
    session->record(reading(2000), Date{kSessionStart + 1});
  }
  // The standby shows what it reads but never writes the file.
  EXPECT_EQ(standby->recorder().histories().at("en0").aggregate(60, Date{kSessionStart + 1}).bytesIn, 1000u);
  ASSERT_TRUE(standby->save(Date{kSessionStart + 1}));
  EXPECT_FALSE(std::filesystem::exists(file));
  int reads = 0;
  auto early = standby->takeOver(
      [&] {
        ++reads;
        return reading(2500);
      },
      [] { return Date{kSessionStart + 1.5}; });
  ASSERT_TRUE(early) << early.error();
  EXPECT_FALSE(*early);
  EXPECT_FALSE(standby->recording());
  EXPECT_EQ(reads, 0) << "no reading is taken while another holds the lock";

  holder->record(reading(3000), Date{kSessionStart + 2});
  ASSERT_TRUE(holder->save(Date{kSessionStart + 2}));
  holder.reset();
  ASSERT_EQ(savedBytesIn(file, kSessionStart + 2), 2000u);

  // The holder's file is the history from here; the takeover's reading is
  // only a baseline, so nothing the holder saved is counted twice.
  auto took = standby->takeOver([] { return reading(3000); }, [] { return Date{kSessionStart + 2.1}; });
  ASSERT_TRUE(took) << took.error();
  EXPECT_TRUE(*took);
  EXPECT_TRUE(standby->recording());
  standby->record(reading(4000), Date{kSessionStart + 3});
  ASSERT_TRUE(standby->save(Date{kSessionStart + 3}));
  EXPECT_EQ(savedBytesIn(file, kSessionStart + 3), 3000u);

  // Now the former standby holds the lock.
  auto third = openSession(file, kSessionStart + 3);
  ASSERT_TRUE(third);
  EXPECT_FALSE(third->recording());
}

TEST(RecordingSessionTest, ADamagedFileIsNeitherRecordedOverNorTakenOver) {
  TempDir dir;
  const auto file = dir / "history.plist";
  bcn::testing::writeText(file, "bplist00 damaged");
  auto refused = RecordingSession::open(file, 10, Date{kSessionStart});
  ASSERT_FALSE(refused);
  EXPECT_NE(refused.error().find(file.string()), std::string::npos) << refused.error();

  // A holder that leaves a damaged file behind: the standby reports it,
  // keeps standing by and leaves the file as it is.
  std::filesystem::remove(file);
  auto holder = openSession(file, kSessionStart);
  ASSERT_TRUE(holder && holder->recording());
  auto standby = openSession(file, kSessionStart);
  ASSERT_TRUE(standby);
  holder.reset();
  bcn::testing::writeText(file, "bplist00 damaged");
  auto took = standby->takeOver([] { return reading(1); }, [] { return Date{kSessionStart + 1}; });
  ASSERT_FALSE(took);
  EXPECT_NE(took.error().find("damaged"), std::string::npos) << took.error();
  EXPECT_FALSE(standby->recording());
  standby->record(reading(100), Date{kSessionStart + 2});
  ASSERT_TRUE(standby->save(Date{kSessionStart + 2}));
  EXPECT_EQ(bcn::testing::readText(file), "bplist00 damaged");
  // The lock is let go again after the failed takeover.
  auto lock = HistoryFileLock::tryAcquire(file);
  ASSERT_TRUE(lock) << lock.error();
  EXPECT_TRUE(lock->has_value());
}

}  // namespace
}  // namespace bcn::cli
