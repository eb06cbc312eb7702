#include "tray-app/testing/history_screenshot.h"

#include <stdlib.h>

#include <QImage>
#include <cmath>
#include <cstdio>

#include "platform/files.h"
#include "tools/beaconbar/history_file.h"
#include "tray-app/history_window.h"

namespace bcn::tray::testing {

bool saveHistoryScreenshot(const std::filesystem::path& directory) {
  // 2026-12-08 18:00 UTC.
  const Date now = Date::fromUnixSeconds(1'796'752'800);
  HistoryMap histories;
  for (const auto& [name, scale] : {std::pair{"en0", 1.0}, std::pair{"utun3", 0.15}}) {
    RateHistory history(cli::kHistoryRetention);
    for (double end = now.secondsSince2001 - 2 * 86400; end < now.secondsSince2001; end += 20) {
      const double hours = std::fmod(Date{end}.unixSeconds() / 3600, 24);
      // Nothing recorded one evening while the laptop was shut.
      if (end > now.secondsSince2001 - 26 * 3600 && end < now.secondsSince2001 - 22 * 3600) continue;
      const double busy = 0.25 + 0.75 * std::pow(std::sin(M_PI * (hours - 6) / 16), 2) * (hours > 6 && hours < 22);
      const double wobble = 0.6 + 0.4 * std::sin(end / 97) * std::sin(end / 1301);
      const auto in = static_cast<std::uint64_t>(scale * 20 * 420'000 * busy * wobble);
      history.add({Date{end}, 20, in, in / 9});
    }
    history.prune(now);
    histories[name] = std::move(history);
  }
  auto bytes = encodeHistoryFile(histories);
  char scratch[] = "/tmp/bcn-history-shot-XXXXXX";
  if (!bytes || ::mkdtemp(scratch) == nullptr) return false;
  const std::filesystem::path file = std::filesystem::path(scratch) / "history.plist";
  const bool written = files::writeFileAtomically(file, *bytes, 0644).has_value();

  bool saved = false;
  if (written) {
    HistoryWindow window(file, [now] { return now; });
    window.resize(760, 860);
    window.refresh(true);
    const std::filesystem::path out = directory / "tray-history.png";
    saved = window.grab().toImage().save(QString::fromStdString(out.string()), "PNG");
    std::printf(saved ? "wrote %s\n" : "tray-screenshots: cannot write %s\n", out.c_str());
  }
  std::error_code ignored;
  std::filesystem::remove_all(scratch, ignored);
  return saved;
}

}  // namespace bcn::tray::testing
