// The tray's history window: for one interface at a time (chosen in a
// list), charts of the last hour, the last day and the last 30 days, in
// and out, with each period's average, minimum and maximum rate and total
// bytes, read from the traffic history file the recorder keeps.
//
// The file is read when the window is shown and then every 10 s while it
// stays visible, but charts are rebuilt only when the file changed since
// the last reading (or a minute has passed, so the periods move on). A
// damaged or unreadable file is reported in the window and the charts
// drawn before stay up. Hidden, the window costs nothing.
//
// Thread: GUI thread only.
#pragma once

#include <QChartView>
#include <QComboBox>
#include <QLabel>
#include <QTimer>
#include <QWidget>
#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "charts/chart_data.h"
#include "platform/date.h"

namespace bcn::tray {

class HistoryWindow : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kRefreshMilliseconds = 10'000;

  // `now` is the clock the periods end at (tests and screenshots pass a
  // fixed one).
  explicit HistoryWindow(std::filesystem::path historyFile, std::function<Date()> now = &Date::now,
                         QWidget* parent = nullptr);

  // Shows the window, or brings it to the front when it is open: what the
  // menu's "History…" entry does.
  void present();

  // Reads the file again when it changed (or `force`) and redraws.
  void refresh(bool force = false);

  // What is on screen, for tests.
  QStringList interfaceNames() const;
  QString selectedInterface() const { return interfaces_->currentText(); }
  void selectInterface(const QString& name);
  const charts::InterfaceCharts* shownCharts() const;
  QString problem() const { return problem_->isHidden() ? QString() : problem_->text(); }
  QChartView* chartView(std::size_t period) const { return views_.at(period); }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  struct FileStamp {
    std::int64_t size = -1;
    std::int64_t modified = 0;  // nanoseconds
    bool operator==(const FileStamp&) const = default;
  };
  std::optional<FileStamp> stamp() const;
  void redraw();

  std::filesystem::path file_;
  std::function<Date()> now_;
  std::vector<charts::InterfaceCharts> charts_;
  std::optional<FileStamp> lastStamp_;
  double lastDrawn_ = 0;
  QComboBox* interfaces_;
  QLabel* problem_;
  std::array<QChartView*, 3> views_{};
  QTimer timer_;
};

}  // namespace bcn::tray
