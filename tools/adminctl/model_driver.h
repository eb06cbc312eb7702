// ModelDriver: runs the console's AdminModel without a window. Each call
// starts one refresh or action on the model and runs the Qt event loop
// until the model reports it finished, or until a time limit for the
// daemon's answer passes. Authorization dialogs run inside the action
// itself, before the limit starts to count.
//
// Thread: the thread of the QCoreApplication, which must exist for the
// driver's whole life. The authorization service must outlive the driver.
#pragma once

#include <chrono>
#include <functional>
#include <optional>

#include "admin-app/admin_model.h"

namespace bcn::cli {

class ModelDriver {
 public:
  static constexpr std::chrono::milliseconds kAnswerLimit{30'000};

  explicit ModelDriver(AuthorizationServices& authorization, AdminModel::Options options = {},
                       std::chrono::milliseconds answerLimit = kAnswerLimit)
      : model_(authorization, std::move(options)), answerLimit_(answerLimit) {}

  AdminModel& model() { return model_; }

  // Nothing when the daemon did not answer in time.
  std::optional<ModelOutcome> refresh();
  // `action` calls one of approve, deny or unpairAll on the model.
  std::optional<ModelOutcome> act(const std::function<void(AdminModel&)>& action);

 private:
  template <typename Signal>
  std::optional<ModelOutcome> runUntil(Signal signal, const std::function<void(AdminModel&)>& start);

  AdminModel model_;
  std::chrono::milliseconds answerLimit_;
};

}  // namespace bcn::cli
