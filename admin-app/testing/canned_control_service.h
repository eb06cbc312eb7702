// Test-only: a control service on a scratch socket that answers every call
// with a canned reply the test chooses, records what it was asked, and can
// hold chosen replies back or go away and come back. By default it reports
// version "1.2.3" and no pending requests, and answers the other methods
// with success.
//
// Thread-safe: the server's threads answer while the test changes the
// answers.
#pragma once

#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "admin-app/admin_model.h"
#include "platform/ipc/message.h"
#include "platform/ipc/server.h"
#include "platform/testing/test_support.h"

namespace bcn::testing {

class CannedControlService {
 public:
  struct Call {
    std::string selector;
    PlistDictionary arguments;
  };

  // Starts serving at once.
  CannedControlService();
  ~CannedControlService();

  const std::filesystem::path& path() const { return path_; }
  // Connects to this service's socket, for AdminModel::Options::connect.
  AdminModel::ClientFactory factory() const;

  // What `selector` answers from now on.
  void answer(const std::string& selector, ipc::ReplyValues reply);
  void answerStatus(PlistDictionary status);
  void answerPending(PlistArray items);
  void answerError(const std::string& selector, PlatformError error);
  // Calls of `selector` wait for the test to answer them (held()).
  void hold(const std::string& selector);

  std::vector<Call> calls() const;
  std::vector<std::string> selectors() const;
  std::vector<ipc::Reply> held() const;
  // Waits up to 10 s for the number of calls (or of held replies) to reach
  // `count`.
  bool waitForCalls(std::size_t count) const;
  bool waitForHeld(std::size_t count) const;

  // Closes every connection and stops listening, as a daemon that exits.
  void stop();
  // Serves again at the same path.
  void start();

  // Dictionaries as the daemon lists requests.
  static PlistDictionary request(const std::string& id, Date created);

  struct State;

 private:
  TempDir dir_;
  std::filesystem::path path_;
  std::shared_ptr<State> state_;
  std::unique_ptr<ipc::Server> server_;
};

}  // namespace bcn::testing
