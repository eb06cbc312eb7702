// The pairing handshake of AdminDaemon. Every table access happens under
// lock_; replies are collected under it and called only after it is
// released.
#include <algorithm>
#include <string>

#include "daemon/admin_daemon.h"
#include "platform/crypto.h"
#include "protocol/admin_keys.h"

namespace bcn {
namespace {

std::unexpected<PlatformError> failure(AdminError error) { return std::unexpected(toPlatformError(error)); }

}  // namespace

std::expected<std::string, PlatformError> AdminDaemon::beginPairing(std::uint32_t uid, SessionID session) {
  auto id = crypto::randomUUID();
  if (!id) return std::unexpected(id.error());
  std::vector<PairingReply> superseded;
  {
    std::lock_guard guard(lock_);
    auto older = std::stable_partition(pending_.begin(), pending_.end(),
                                       [uid](const PendingPairing& p) { return p.uid != uid; });
    for (auto it = older; it != pending_.end(); ++it) {
      if (it->waiter) superseded.push_back(std::move(it->waiter));
    }
    pending_.erase(older, pending_.end());
    pending_.push_back({*id, uid, Date::now(), session, nullptr});
  }
  for (auto& waiter : superseded) waiter(failure(AdminError::unknownRequest));
  logChatter(uid, "pairing requested by uid " + std::to_string(uid) + " as " + *id);
  return id;
}

void AdminDaemon::awaitPairing(std::string_view id, SessionID session, PairingReply reply) {
  PairingReply replaced;
  {
    std::lock_guard guard(lock_);
    auto entry = std::find_if(pending_.begin(), pending_.end(), [&](const PendingPairing& p) { return p.id == id; });
    if (entry != pending_.end() && entry->session == session) {
      replaced = std::exchange(entry->waiter, std::move(reply));
      reply = nullptr;
    }
  }
  // The earlier wait would otherwise stay open forever on its connection.
  if (replaced) replaced(failure(AdminError::unknownRequest));
  if (reply) reply(failure(AdminError::unknownRequest));
}

PlistArray AdminDaemon::pendingPairings(std::uint32_t uid) {
  std::vector<std::pair<std::string, Date>> mine;
  {
    std::lock_guard guard(lock_);
    for (const auto& p : pending_) {
      if (p.uid == uid) mine.emplace_back(p.id, p.created);
    }
  }
  std::stable_sort(mine.begin(), mine.end(),
                   [](const auto& a, const auto& b) { return a.second.secondsSince2001 < b.second.secondsSince2001; });
  PlistArray list;
  for (auto& [id, created] : mine) {
    PlistDictionary entry;
    entry.set(std::string(PendingPairingKey::id), PlistValue(std::move(id)));
    entry.set(std::string(PendingPairingKey::created), PlistValue(created));
    list.emplace_back(std::move(entry));
  }
  return list;
}

std::expected<void, PlatformError> AdminDaemon::approvePairing(std::string_view id,
                                                               std::span<const std::uint8_t> authorization,
                                                               std::uint32_t approverUID,
                                                               const ProcessIdentity& approverProcess) {
  {
    // Cheap refusals first: polkit is not asked about a request that could
    // not be approved anyway. The request is looked up again below, since
    // it may go while polkit is asked.
    std::lock_guard guard(lock_);
    auto entry = std::find_if(pending_.begin(), pending_.end(), [&](const PendingPairing& p) { return p.id == id; });
    if (entry == pending_.end()) return failure(AdminError::unknownRequest);
    if (entry->uid != approverUID) return failure(AdminError::wrongUser);
  }
  if (auto verified = verifyPairRight(authorization, approverProcess, approverUID); !verified) {
    return failure(verified.error());
  }
  PairingReply waiter;
  std::expected<std::string, PlatformError> token;
  {
    std::lock_guard guard(lock_);
    auto taken = takeRequest(id, approverUID);
    if (!taken) return failure(taken.error());
    waiter = std::move(*taken);
    token = store_.pair(approverUID);
    publishPairings();
  }
  if (!token) {
    // The request is gone either way; tell the app why instead of leaving
    // its wait open for good.
    if (waiter) waiter(std::unexpected(token.error()));
    return std::unexpected(token.error());
  }
  log_.info("pairing " + std::string(id) + " approved for uid " + std::to_string(approverUID));
  if (waiter) waiter(*token);
  return {};
}

std::expected<void, PlatformError> AdminDaemon::denyPairing(std::string_view id, std::uint32_t approverUID) {
  PairingReply waiter;
  {
    std::lock_guard guard(lock_);
    auto taken = takeRequest(id, approverUID);
    if (!taken) return failure(taken.error());
    waiter = std::move(*taken);
  }
  if (waiter) waiter(failure(AdminError::authorizationFailed));
  return {};
}

std::expected<PairingReply, AdminError> AdminDaemon::takeRequest(std::string_view id, std::uint32_t approverUID) {
  auto entry = std::find_if(pending_.begin(), pending_.end(), [&](const PendingPairing& p) { return p.id == id; });
  if (entry == pending_.end()) return std::unexpected(AdminError::unknownRequest);
  if (entry->uid != approverUID) return std::unexpected(AdminError::wrongUser);
  PairingReply waiter = std::move(entry->waiter);
  pending_.erase(entry);
  return waiter;
}

void AdminDaemon::sessionEnded(SessionID session) {
  std::vector<PendingPairing> dropped;
  {
    std::lock_guard guard(lock_);
    auto ended = std::stable_partition(pending_.begin(), pending_.end(),
                                       [session](const PendingPairing& p) { return p.session != session; });
    std::move(ended, pending_.end(), std::back_inserter(dropped));
    pending_.erase(ended, pending_.end());
  }
  // `dropped` dies here, outside the lock: destroying a waiter may run
  // connection code of its own.
}

}  // namespace bcn
