// admin-screenshots: renders the console's window in its two states — the
// daemon running with two pending requests, and the daemon not running —
// to admin-running.png and admin-not-running.png in the given directory.
// Runs without a display:
//   QT_QPA_PLATFORM=offscreen admin-screenshots docs
#include <QApplication>
#include <QPixmap>
#include <cstdio>
#include <filesystem>

#include "admin-app/admin_app.h"
#include "admin-app/testing/canned_control_service.h"
#include "admin-app/testing/qt_wait.h"
#include "platform/authorization/fake_authorization.h"

namespace {

bool capture(bcn::AdminApp& app, const std::function<bool()>& ready, const std::filesystem::path& file) {
  app.show();
  if (!bcn::testing::waitUntil(ready)) {
    std::fprintf(stderr, "admin-screenshots: the window did not reach its state for %s\n", file.c_str());
    return false;
  }
  bcn::testing::settle();
  if (!app.window().grab().save(QString::fromStdString(file.string()), "PNG")) {
    std::fprintf(stderr, "admin-screenshots: cannot write %s\n", file.c_str());
    return false;
  }
  std::printf("wrote %s\n", file.c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: admin-screenshots <output directory>\n");
    return 2;
  }
  const std::filesystem::path out = argv[1];
  bcn::FakeAuthorizationServices authorization;
  bcn::testing::CannedControlService daemon;
  daemon.answerStatus({{"version", "0.1.0"}, {"protocol", 1}});
  const bcn::Date now = bcn::Date::now();
  daemon.answerPending({bcn::testing::CannedControlService::request("5D1C0E59-8E0B-4F3A-9D55-2F1B7A3C6E10",
                                                                    bcn::Date{now.secondsSince2001 - 240}),
                        bcn::testing::CannedControlService::request("A0E3F7B2-41C6-4B8E-8F0D-93C2D5E61A77",
                                                                    bcn::Date{now.secondsSince2001 - 30})});
  {
    bcn::AdminApp running(authorization, {daemon.factory(), {{"true"}}});
    if (!capture(
            running, [&] { return running.view().rows().size() == 2 && running.model().helperVersion(); },
            out / "admin-running.png")) {
      return 1;
    }
  }
  daemon.stop();
  bcn::AdminApp stopped(authorization, {daemon.factory(), {{"true"}}});
  bool refreshed = false;
  QObject::connect(&stopped.model(), &bcn::AdminModel::pendingChanged, [&] { refreshed = true; });
  return capture(
             stopped, [&] { return refreshed; }, out / "admin-not-running.png")
             ? 0
             : 1;
}
