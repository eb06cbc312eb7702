#include "admin-app/console_replies.h"

#include <cmath>

#include "protocol/admin_keys.h"

namespace bcn {

std::optional<QDateTime> toQDateTime(Date date) {
  constexpr double kLimitSeconds = 1e12;
  const double seconds = date.unixSeconds();
  if (!std::isfinite(seconds) || std::fabs(seconds) > kLimitSeconds) return std::nullopt;
  // Milliseconds are all a QDateTime keeps; rounding keeps a round trip exact.
  return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::round(seconds * 1000.0)), Qt::UTC);
}

Date fromQDateTime(const QDateTime& dateTime) {
  return Date::fromUnixSeconds(static_cast<double>(dateTime.toMSecsSinceEpoch()) / 1000.0);
}

std::optional<QString> helperVersionFromStatus(const PlistDictionary& values) {
  const PlistValue* status = values.find("status");
  const PlistDictionary* dictionary = status ? status->dictionary() : nullptr;
  const PlistValue* version = dictionary ? dictionary->find(AdminStatusKey::version) : nullptr;
  const std::string* text = version ? version->text() : nullptr;
  if (!text) return std::nullopt;
  return QString::fromStdString(*text);
}

QList<PendingRequest> pendingRequestsFromReply(const PlistDictionary& values) {
  QList<PendingRequest> requests;
  const PlistValue* items = values.find("items");
  const PlistArray* array = items ? items->array() : nullptr;
  if (!array) return requests;
  for (const PlistValue& item : *array) {
    const PlistDictionary* dictionary = item.dictionary();
    if (!dictionary) continue;
    const PlistValue* id = dictionary->find(PendingPairingKey::id);
    const PlistValue* created = dictionary->find(PendingPairingKey::created);
    if (!id || !id->text() || !created || !created->date()) continue;
    std::optional<QDateTime> when = toQDateTime(*created->date());
    if (!when) continue;
    requests.push_back({QString::fromStdString(*id->text()), *when});
  }
  return requests;
}

}  // namespace bcn
