// NetworkPreferences: one session on the machine's network preferences,
// shaped like the preferences calls the daemon and the library make:
// create a session, lock (optionally waiting), read paths, the current set,
// its services and their order, switch a service on or off, commit, apply,
// unlock.
//
// Storage is one property-list file (layout in preferences_document.h).
// The lock is an flock on a lock file beside it, shared by every process on
// the machine. Commit replaces the file atomically. Apply brings the
// devices whose services this session changed up or down through
// rtnetlink, in the calling thread's network namespace, and leaves every
// other link as it is: a link an administrator set by hand stays so until
// a change to its own services. While no file exists the session presents the default
// set built from the kernel's links (default_preferences.h); the first
// commit writes it out.
//
// A session is used from one thread at a time. Destroying a session that
// holds the lock releases it.
#pragma once

#include <expected>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "netcore/export.h"
#include "platform/error.h"
#include "platform/netprefs/kernel_links.h"
#include "platform/netprefs/preferences_document.h"
#include "platform/plist.h"

namespace bcn::netprefs {

struct NETCORE_EXPORT PreferencesLocation {
  std::filesystem::path file;
  std::filesystem::path lockFile;

  // "network-preferences.plist" and its ".lock" in `directory`.
  static PreferencesLocation inDirectory(const std::filesystem::path& directory);
  // In the first directory of $CONFIGURATION_DIRECTORY when that is set,
  // otherwise in /etc/beaconbar.
  static PreferencesLocation systemDefault();
};

class NETCORE_EXPORT NetworkPreferences {
 public:
  // Larger preferences files are refused rather than read.
  static constexpr std::size_t kMaxFileBytes = 16u << 20;

  // A session on the preferences at `location` (the system default when not
  // given). Nothing when the file exists but cannot be read or is not a
  // preferences dictionary: the session must not present, and later
  // commit, something other than what the file holds.
  static std::unique_ptr<NetworkPreferences> create(std::string_view clientName);
  static std::unique_ptr<NetworkPreferences> create(std::string_view clientName,
                                                    PreferencesLocation location);
  // The same, with the default for a missing file derived from `links`, a
  // reading of the kernel the caller already holds, instead of a new one.
  static std::unique_ptr<NetworkPreferences> create(std::string_view clientName, PreferencesLocation location,
                                                    const std::vector<KernelLink>& links);

  ~NetworkPreferences();
  NetworkPreferences(const NetworkPreferences&) = delete;
  NetworkPreferences& operator=(const NetworkPreferences&) = delete;

  // Takes the machine-wide lock; with `wait`, blocks until it is free,
  // otherwise fails at once when another session holds it. Once locked the
  // session re-reads the file, so it edits the latest saved state; if this
  // session already has unsaved edits and the file changed meanwhile, the
  // lock is refused (the edits were made on a stale copy). False also when
  // the lock file cannot be opened or this session already holds the lock.
  bool lock(bool wait);
  // False when the session does not hold the lock.
  bool unlock();
  bool locked() const { return lockFd_ >= 0; }

  // The value at a "/"-separated path, e.g. "/NetworkServices/<id>/Interface".
  std::optional<PlistValue> pathGetValue(std::string_view path) const;
  std::optional<PreferencesSet> copyCurrentSet() const;
  // Any service of the preferences (not only the current set's).
  std::optional<PreferencesService> copyService(std::string_view serviceID) const;

  // False when there is no such service. Kept in the session until commit.
  bool setServiceEnabled(std::string_view serviceID, bool enabled);

  // Writes the session's preferences to the file atomically. Takes the lock
  // for the write when the session does not hold it. Fails when the lock
  // cannot be taken, the directory cannot be created or the write fails;
  // the old file then stays as it was.
  std::expected<void, PlatformError> commitChanges();

  // Puts into effect what changed since the session read the preferences
  // (or last applied them): a device is brought up when any enabled service
  // of the current set uses it and down otherwise, but only when that
  // wanted state differs from the one the session started from, or the
  // device belongs to a service this session switched, and differs from the
  // link's own. Any other device is left alone, whatever state the link is
  // in (an administrator may have moved it by hand). Devices the kernel does not have
  // are passed over. Fails, with the kernel's error naming the link, when
  // the links cannot be read or the kernel refuses a change; the changes
  // then count as not applied, so a later apply tries them again.
  std::expected<void, PlatformError> applyChanges();

  const std::string& clientName() const { return clientName_; }
  const PreferencesLocation& location() const { return location_; }
  const PlistDictionary& document() const { return document_; }

 private:
  NetworkPreferences(std::string clientName, PreferencesLocation location, PlistDictionary document);

  std::string clientName_;
  PreferencesLocation location_;
  PlistDictionary document_;  // what this session presents, with its edits
  PlistDictionary base_;      // what it was read from, to tell edits apart
  PlistDictionary applied_;   // what the links were last set from (or read with)
  std::set<std::string> switched_;  // devices of services switched since then
  int lockFd_ = -1;
};

// The hidden rule shared by the daemon and the library: the boolean
// "HiddenConfiguration" in the dictionary at
// "/NetworkServices/<id>/Interface" is true. Any other shape answers false.
bool isHiddenService(const NetworkPreferences& session, std::string_view serviceID);

}  // namespace bcn::netprefs
