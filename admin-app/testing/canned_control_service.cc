#include "admin-app/testing/canned_control_service.h"

#include <chrono>
#include <map>
#include <stdexcept>

#include "client/admin_control_client.h"
#include "platform/ipc/service_socket.h"
#include "protocol/admin_methods.h"

namespace bcn::testing {

struct CannedControlService::State {
  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  std::map<std::string, ipc::ReplyValues> answers;
  std::set<std::string> holding;
  std::vector<Call> calls;
  std::vector<ipc::Reply> held;

  template <typename Predicate>
  bool waitFor(Predicate predicate) const {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10), predicate);
  }
};

namespace {

class CannedSession final : public ipc::Session {
 public:
  explicit CannedSession(std::shared_ptr<CannedControlService::State> state) : state_(std::move(state)) {}

  void handleCall(const MethodSpec& method, const PlistDictionary& arguments, ipc::Reply reply) override {
    std::string selector(method.selector);
    ipc::ReplyValues answer;
    {
      std::lock_guard guard(state_->mutex);
      state_->calls.push_back({selector, arguments});
      state_->changed.notify_all();
      if (state_->holding.contains(selector)) {
        state_->held.push_back(reply);
        return;
      }
      if (auto it = state_->answers.find(selector); it != state_->answers.end()) answer = it->second;
    }
    reply(std::move(answer));
  }

 private:
  std::shared_ptr<CannedControlService::State> state_;
};

}  // namespace

CannedControlService::CannedControlService() : path_(dir_ / "control"), state_(std::make_shared<State>()) {
  answerStatus({{"version", "1.2.3"}, {"protocol", 1}});
  answerPending({});
  start();
}

CannedControlService::~CannedControlService() { stop(); }

AdminModel::ClientFactory CannedControlService::factory() const {
  return [path = path_](ipc::Client::Options options) { return AdminControlClient::connect(path, std::move(options)); };
}

void CannedControlService::answer(const std::string& selector, ipc::ReplyValues reply) {
  std::lock_guard guard(state_->mutex);
  state_->answers[selector] = std::move(reply);
}

void CannedControlService::answerStatus(PlistDictionary status) {
  answer(std::string(ControlSelector::status), {{{"status", std::move(status)}}, std::nullopt});
}

void CannedControlService::answerPending(PlistArray items) {
  answer(std::string(ControlSelector::pendingPairings), {{{"items", std::move(items)}}, std::nullopt});
}

void CannedControlService::answerError(const std::string& selector, PlatformError error) {
  answer(selector, {{}, std::move(error)});
}

void CannedControlService::hold(const std::string& selector) {
  std::lock_guard guard(state_->mutex);
  state_->holding.insert(selector);
}

std::vector<CannedControlService::Call> CannedControlService::calls() const {
  std::lock_guard guard(state_->mutex);
  return state_->calls;
}

std::vector<std::string> CannedControlService::selectors() const {
  std::vector<std::string> out;
  for (const Call& call : calls()) out.push_back(call.selector);
  return out;
}

std::vector<ipc::Reply> CannedControlService::held() const {
  std::lock_guard guard(state_->mutex);
  return state_->held;
}

bool CannedControlService::waitForCalls(std::size_t count) const {
  return state_->waitFor([&] { return state_->calls.size() >= count; });
}

bool CannedControlService::waitForHeld(std::size_t count) const {
  return state_->waitFor([&] { return state_->held.size() >= count; });
}

void CannedControlService::stop() {
  if (server_) server_->stop();
  server_.reset();
}

void CannedControlService::start() {
  if (server_) return;
  auto fd = ipc::bindServiceSocket(path_);
  if (!fd) throw std::runtime_error(fd.error().description);
  ipc::Service service;
  service.protocol = &adminControlProtocol();
  service.makeSession = [state = state_](const ipc::Peer&) { return std::make_shared<CannedSession>(state); };
  server_ = std::make_unique<ipc::Server>(2);
  auto served = server_->serve(*fd, std::move(service));
  if (!served) throw std::runtime_error(served.error().description);
}

PlistDictionary CannedControlService::request(const std::string& id, Date created) {
  return {{"id", id}, {"created", created}};
}

}  // namespace bcn::testing
