#include "tools/adminctl/model_driver.h"

#include <QEventLoop>
#include <QTimer>

namespace bcn::cli {

template <typename Signal>
std::optional<ModelOutcome> ModelDriver::runUntil(Signal signal, const std::function<void(AdminModel&)>& start) {
  std::optional<ModelOutcome> outcome;
  QEventLoop loop;
  const auto connection = QObject::connect(&model_, signal, &loop, [&](const ModelOutcome& finished) {
    if (!outcome) outcome = finished;
    loop.quit();
  });
  start(model_);
  // An authorization that ends the action reports it before start returns;
  // quitting a loop that is not running yet would be lost.
  if (!outcome) {
    QTimer::singleShot(answerLimit_, &loop, &QEventLoop::quit);
    loop.exec();
  }
  QObject::disconnect(connection);
  return outcome;
}

std::optional<ModelOutcome> ModelDriver::refresh() {
  return runUntil(&AdminModel::refreshFinished, [](AdminModel& model) { model.refresh(); });
}

std::optional<ModelOutcome> ModelDriver::act(const std::function<void(AdminModel&)>& action) {
  return runUntil(&AdminModel::actionFinished, action);
}

}  // namespace bcn::cli
