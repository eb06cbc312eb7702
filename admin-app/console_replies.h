// What the console reads from the daemon's status and pending-request
// replies. The reading is lenient on purpose: a status without a text
// version reads as "no version" (the window then shows the daemon as not
// running), and a request dictionary that lacks a text "id" or a date
// "created" is skipped while the others are kept in the daemon's order.
// Anything the console does not use is ignored.
//
// Pure functions over reply values; thread-safe.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

#include "platform/date.h"
#include "platform/plist.h"

namespace bcn {

// One pairing request as the console shows it.
struct PendingRequest {
  QString id;         // issued by the daemon
  QDateTime created;  // when the app asked, in UTC

  bool operator==(const PendingRequest&) const = default;
};

// Absent for dates no clock shows (not finite, or beyond ±30,000 years),
// which a hostile reply could carry.
std::optional<QDateTime> toQDateTime(Date date);
Date fromQDateTime(const QDateTime& dateTime);

// The version in a status reply's values ({"status": {"version": …}}).
std::optional<QString> helperVersionFromStatus(const PlistDictionary& values);

// The requests in a pending reply's values ({"items": [{"id", "created"}…]});
// a "created" date toQDateTime cannot show counts as missing.
QList<PendingRequest> pendingRequestsFromReply(const PlistDictionary& values);

}  // namespace bcn
