#include "admin-app/console_replies.h"

#include <gtest/gtest.h>

#include <limits>

namespace bcn {
namespace {

const Date kMorning = Date::fromUnixSeconds(1'700'000'000.25);

PlistDictionary status(PlistDictionary inner) { return {{"status", std::move(inner)}}; }

TEST(ConsoleReplies, VersionOnlyWhenItIsText) {
  EXPECT_EQ(helperVersionFromStatus(status({{"protocol", 1}, {"version", "0.1.0"}, {"paired", true}})),
            QString("0.1.0"));
  // The daemon answered, but without a usable version: read as not running.
  EXPECT_EQ(helperVersionFromStatus(status({{"protocol", 1}})), std::nullopt);
  EXPECT_EQ(helperVersionFromStatus(status({{"version", 3}, {"protocol", 1}})), std::nullopt);
  EXPECT_EQ(helperVersionFromStatus(status({{"version", PlistArray{"0.1.0"}}})), std::nullopt);
  EXPECT_EQ(helperVersionFromStatus({{"status", "0.1.0"}}), std::nullopt);
  EXPECT_EQ(helperVersionFromStatus({}), std::nullopt);
  // Text is kept as sent, including characters that are markup elsewhere.
  EXPECT_EQ(helperVersionFromStatus(status({{"version", "<b>2</b> ü"}})), QString::fromUtf8("<b>2</b> ü"));
}

TEST(ConsoleReplies, RequestsSkipBadEntriesAndKeepTheDaemonsOrder) {
  const PlistArray items{
      PlistDictionary{{"id", "B"}, {"created", kMorning}},
      PlistDictionary{{"id", "NO-DATE"}},
      PlistDictionary{{"created", kMorning}},
      PlistDictionary{{"id", 7}, {"created", kMorning}},
      PlistDictionary{{"id", "TEXT-DATE"}, {"created", "yesterday"}},
      PlistValue("not a dictionary"),
      PlistDictionary{{"id", "A"}, {"created", Date{0}}, {"extra", true}},
  };
  const QList<PendingRequest> requests = pendingRequestsFromReply({{"items", items}});
  ASSERT_EQ(requests.size(), 2);
  EXPECT_EQ(requests[0].id, "B");
  EXPECT_EQ(requests[0].created, QDateTime::fromMSecsSinceEpoch(1'700'000'000'250, Qt::UTC));
  EXPECT_EQ(requests[1].id, "A");
  EXPECT_EQ(requests[1].created, QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC));
}

TEST(ConsoleReplies, DatesNoClockShowsAreSkippedNotWrapped) {
  const PlistArray items{
      PlistDictionary{{"id", "NAN"}, {"created", Date{std::numeric_limits<double>::quiet_NaN()}}},
      PlistDictionary{{"id", "INF"}, {"created", Date{std::numeric_limits<double>::infinity()}}},
      PlistDictionary{{"id", "HUGE"}, {"created", Date{-1e300}}},
      PlistDictionary{{"id", "OK"}, {"created", kMorning}},
  };
  const QList<PendingRequest> requests = pendingRequestsFromReply({{"items", items}});
  ASSERT_EQ(requests.size(), 1);
  EXPECT_EQ(requests[0].id, "OK");
  EXPECT_EQ(fromQDateTime(requests[0].created), kMorning);
}

TEST(ConsoleReplies, NoListReadsAsNoRequests) {
  EXPECT_TRUE(pendingRequestsFromReply({}).isEmpty());
  EXPECT_TRUE(pendingRequestsFromReply({{"items", PlistDictionary{{"id", "A"}}}}).isEmpty());
}

}  // namespace
}  // namespace bcn
