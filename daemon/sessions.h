// The daemon's two kinds of connection session: AppSession serves the
// menu-bar app's service (status, pairing, service switches, tunnel
// owners), ControlSession the admin console's (status, pending requests,
// approval, denial, revoking every pairing). Each translates the calls of
// its method table into calls on the one AdminDaemon, with the peer's
// effective user id fixed at accept time.
//
// A session runs its calls on its own SessionQueue, one at a time in
// arrival order, off the IPC threads, taking turns with other users'
// sessions (session_queue.h). The app's status call is the exception when
// nothing of its session is queued or running: it blocks on nothing
// (AdminDaemon::isPaired reads a published copy), so it is answered at once
// on the IPC thread, sparing the two thread switches a lone call would
// otherwise cost; its order among the session's calls is the same. Every reply is answered exactly once,
// except the pairing wait, which AdminDaemon answers when the request is
// decided (or never, when the session ends first), and calls still queued
// when the connection closes: those never run.
//
// Lifetimes: the daemon, the scheduler and the tunnel scan outlive every
// session; queued work keeps its session alive. Sessions must be owned by
// a shared_ptr.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "daemon/admin_daemon.h"
#include "daemon/session_queue.h"
#include "daemon/shared_tunnel_scan.h"
#include "platform/ipc/peer.h"
#include "platform/ipc/server.h"

namespace bcn {

class AppSession final : public ipc::Session, public std::enable_shared_from_this<AppSession> {
 public:
  AppSession(AdminDaemon& daemon, WorkScheduler& workers, SharedTunnelScan& tunnels, const ipc::Peer& peer);

  void handleCall(const MethodSpec& method, const PlistDictionary& arguments, ipc::Reply reply) override;

  // Drops the calls not yet started and tells the daemon this session is
  // gone, after the one running.
  void end();

  // What AdminDaemon knows the session by: unique for the daemon's life.
  SessionID identity() const { return identity_; }
  std::uint32_t uid() const { return uid_; }

 private:
  void run(std::string_view selector, const PlistDictionary& arguments, const ipc::Reply& reply);

  AdminDaemon& daemon_;
  SharedTunnelScan& tunnels_;
  SessionQueue queue_;
  const std::uint32_t uid_;
  const SessionID identity_;
};

class ControlSession final : public ipc::Session, public std::enable_shared_from_this<ControlSession> {
 public:
  ControlSession(AdminDaemon& daemon, WorkScheduler& workers, const ipc::Peer& peer);

  void handleCall(const MethodSpec& method, const PlistDictionary& arguments, ipc::Reply reply) override;

  // Drops the calls not yet started.
  void end();

  std::uint32_t uid() const { return uid_; }

 private:
  void run(std::string_view selector, const PlistDictionary& arguments, const ipc::Reply& reply);

  AdminDaemon& daemon_;
  SessionQueue queue_;
  const std::uint32_t uid_;
  // The console's process, which its authorizations must name.
  const std::optional<ProcessIdentity> process_;
};

}  // namespace bcn
