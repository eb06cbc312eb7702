#include "tray-app/history_window.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <QAbstractSeries>
#include <QChart>
#include <QLineSeries>
#include <fstream>

#include "platform/testing/test_support.h"
#include "tools/beaconbar/history_file.h"

namespace bcn::tray {
namespace {

constexpr double kNow = 820'000'800;

void writeHistories(const std::filesystem::path& file, const std::vector<std::string>& names, std::uint64_t bytes) {
  HistoryMap histories;
  for (const std::string& name : names) {
    RateHistory history(cli::kHistoryRetention);
    for (double end = kNow - 3 * 3600; end < kNow; end += 30) history.add({Date{end}, 30, bytes, bytes / 2});
    histories[name] = std::move(history);
  }
  auto encoded = encodeHistoryFile(histories);
  ASSERT_TRUE(encoded);
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(encoded->data()),
                                               static_cast<std::streamsize>(encoded->size()));
}

std::size_t pointsOf(QChart* chart) {
  std::size_t n = 0;
  for (QAbstractSeries* s : chart->series()) n += static_cast<std::size_t>(qobject_cast<QLineSeries*>(s)->count());
  return n;
}

class HistoryWindowTest : public ::testing::Test {
 protected:
  testing::TempDir dir_;
  std::filesystem::path file_ = dir_ / "history.plist";
  HistoryWindow window_{file_, [] { return Date{kNow}; }};
};

TEST_F(HistoryWindowTest, ShowsTheThreePeriodsOfTheChosenInterface) {
  writeHistories(file_, {"wlan0", "eth0"}, 60'000);
  window_.refresh(true);
  EXPECT_EQ(window_.interfaceNames(), (QStringList{"eth0", "wlan0"}));
  EXPECT_TRUE(window_.problem().isEmpty()) << window_.problem().toStdString();

  window_.selectInterface("wlan0");
  ASSERT_NE(window_.shownCharts(), nullptr);
  EXPECT_EQ(window_.shownCharts()->name, "wlan0");
  const char* titles[] = {"last hour", "last day", "last 30 days"};
  for (std::size_t i = 0; i < 3; ++i) {
    QChart* chart = window_.chartView(i)->chart();
    EXPECT_TRUE(chart->title().contains("wlan0")) << chart->title().toStdString();
    EXPECT_TRUE(chart->title().contains(titles[i])) << chart->title().toStdString();
    // 60 000 B every 30 s: an average of 2000 B/s, the same in every period.
    EXPECT_TRUE(chart->title().contains("avg 1.95 KiB/s")) << chart->title().toStdString();
  }
  // One point per minute of the last hour, in and out; hourly points for the three hours.
  EXPECT_EQ(pointsOf(window_.chartView(0)->chart()), 2u * 60);
  EXPECT_EQ(pointsOf(window_.chartView(1)->chart()), 2u * 3);
}

TEST_F(HistoryWindowTest, FollowsTheFileAndKeepsTheChoice) {
  writeHistories(file_, {"eth0", "wlan0"}, 1000);
  window_.refresh(true);
  window_.selectInterface("wlan0");

  writeHistories(file_, {"eth0", "usb0", "wlan0"}, 5000);
  window_.refresh();
  EXPECT_EQ(window_.interfaceNames(), (QStringList{"eth0", "usb0", "wlan0"}));
  EXPECT_EQ(window_.selectedInterface(), "wlan0");
  EXPECT_EQ(window_.shownCharts()->periods[0].points.back().traffic.bytesIn, 2u * 5000);
}

TEST_F(HistoryWindowTest, ADamagedFileIsReportedAndTheChartsStay) {
  writeHistories(file_, {"eth0"}, 1000);
  window_.refresh(true);
  std::filesystem::resize_file(file_, std::filesystem::file_size(file_) / 2);
  window_.refresh();
  EXPECT_TRUE(window_.problem().contains("damaged")) << window_.problem().toStdString();
  EXPECT_EQ(window_.interfaceNames(), QStringList{"eth0"});
  EXPECT_GT(pointsOf(window_.chartView(0)->chart()), 0u);

  // Repaired, the report goes away.
  writeHistories(file_, {"eth0"}, 1000);
  window_.refresh();
  EXPECT_TRUE(window_.problem().isEmpty());
}

TEST_F(HistoryWindowTest, AnUnchangedFileIsNotReadAgain) {
  writeHistories(file_, {"eth0"}, 1000);
  window_.refresh(true);
  // Same size and modification time, different bytes: only a reader that
  // ignores the stamp would notice.
  struct stat before {};
  ASSERT_EQ(::stat(file_.c_str(), &before), 0);
  {
    std::fstream f(file_, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(0);
    f.write("XXXXXXXX", 8);
  }
  const timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, file_.c_str(), times, 0), 0);
  window_.refresh();
  EXPECT_TRUE(window_.problem().isEmpty()) << window_.problem().toStdString();
  window_.refresh(true);
  EXPECT_TRUE(window_.problem().contains("damaged")) << window_.problem().toStdString();
}

TEST_F(HistoryWindowTest, NoFileYetSaysWhoRecordsIt) {
  window_.refresh(true);
  EXPECT_TRUE(window_.interfaceNames().isEmpty());
  EXPECT_EQ(window_.shownCharts(), nullptr);
  EXPECT_TRUE(window_.problem().contains("No traffic history")) << window_.problem().toStdString();
}

}  // namespace
}  // namespace bcn::tray
