#include "tray-app/service_switches.h"

#include <QPointer>

#include "tools/beaconbar/token_file.h"
#include "tray-app/gui_thread.h"

namespace bcn::tray {

ServiceSwitches::ServiceSwitches(DaemonConnector connect, std::filesystem::path tokenFile, QObject* parent)
    : QObject(parent), connect_(std::move(connect)), tokenFile_(std::move(tokenFile)) {
  readToken();
}

ServiceSwitches::~ServiceSwitches() = default;  // joins the worker

void ServiceSwitches::readToken() {
  std::optional<std::string> token;
  std::string problem;
  if (tokenFile_.empty()) {
    problem = "cannot tell where the pairing token is kept: set XDG_CONFIG_HOME or HOME";
  } else if (auto read = cli::readToken(tokenFile_); read) {
    token = std::move(*read);
  } else {
    problem = read.error();
  }
  if (token == token_ && problem == tokenProblem_) return;
  token_ = std::move(token);
  tokenProblem_ = std::move(problem);
  emit changed();
}

void ServiceSwitches::setEnabled(const NetworkService& service, bool enabled) {
  if (!switching_.empty() || !token_) return;
  switching_ = service.id;
  problem_.clear();
  const std::string what = "Could not switch " + service.name + (enabled ? " on: " : " off: ");
  worker_ = std::jthread(
      [connect = connect_, token = *token_, id = service.id, enabled, what, self = QPointer<ServiceSwitches>(this)] {
        std::string problem;
        if (auto link = connect(); !link) {
          problem = what + link.error();
        } else if (auto done = (*link)->setServiceEnabled(id, enabled, token); !done) {
          problem = what + done.error();
        }
        applyLater(self, [problem = std::move(problem)](ServiceSwitches& s) mutable { s.finish(std::move(problem)); });
      });
  emit changed();
}

void ServiceSwitches::finish(std::string problem) {
  switching_.clear();
  problem_ = std::move(problem);
  const bool succeeded = problem_.empty();
  emit changed();
  if (succeeded) emit switched();
}

}  // namespace bcn::tray
