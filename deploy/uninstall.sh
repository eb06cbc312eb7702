#!/bin/sh
# Removes Beaconbar's admin daemon from this machine: stops and disables its
# service and both socket units, then deletes what the install made (the
# programs, the units and their enablement links, the polkit action, the
# documents, the code-identity registry) and what the daemon made (its
# pairings, the network preferences and their lock, the sockets' runtime
# directory). When the admin helper came as a Debian package, dpkg purges
# the package first, and files another installed package owns (the
# beaconbar command) stay for dpkg to remove. NetCore's library, the
# exporter and the tray are products of their own and stay.
#
# The admin console runs it through pkexec, which also clears the
# environment; the two variables below exist for tests only.
#
#   BEACONBAR_UNINSTALL_ROOT  directory that stands for / (default: none)
#   BEACONBAR_SYSTEMCTL       the systemctl to call (default: systemctl)
#
# Every step is tried even when an earlier one fails; the exit status is 0
# only when everything that was installed is gone, otherwise 1, after
# naming each path that is left. Messages go to stderr, where the console
# shows them.
set -u

root="${BEACONBAR_UNINSTALL_ROOT:-}"
systemctl="${BEACONBAR_SYSTEMCTL:-systemctl}"
sockets="beaconbar-admin.socket beaconbar-admin-control.socket"
units="$sockets beaconbar-admin.service"
failed=0

if [ -z "$root" ] && [ "$(id -u)" != 0 ]; then
  echo "The uninstaller must run as root." >&2
  exit 1
fi

# Without systemd running (and outside tests) there are no units to stop.
units_managed=0
if [ -n "$root" ] || [ -d /run/systemd/system ]; then units_managed=1; fi

# Stopping the sockets first keeps them from starting the service again.
if [ "$units_managed" = 1 ]; then
  for unit in $units; do
    "$systemctl" stop "$unit" >/dev/null 2>&1 || true
  done
  for unit in $units; do
    "$systemctl" disable "$unit" >/dev/null 2>&1 || true
  done
fi

# A packaged install: dpkg's purge runs the package's own removal and keeps
# its database true. Never in tests, which must not touch this machine.
packaged() {
  [ -z "$root" ] && command -v dpkg-query >/dev/null 2>&1 &&
    dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null | grep -qx 'installed\|config-files\|half-installed\|unpacked\|half-configured'
}
if packaged beaconbar-admin; then
  if ! dpkg --purge beaconbar-admin >/dev/null 2>&1; then
    echo "dpkg could not purge the beaconbar-admin package." >&2
    failed=1
  fi
fi

# Whether a package dpkg still knows owns the path (left to dpkg).
owned() {
  [ -z "$root" ] && command -v dpkg-query >/dev/null 2>&1 && dpkg-query -S "$1" >/dev/null 2>&1
}

remove() {
  for path in "$@"; do
    if { [ -e "$path" ] || [ -L "$path" ]; } && ! owned "$path"; then
      rm -rf -- "$path" 2>/dev/null
      if [ -e "$path" ] || [ -L "$path" ]; then
        echo "Could not remove $path." >&2
        failed=1
      fi
    fi
  done
}

for prefix in /usr /usr/local; do
  for program in beaconbar beaconbar-admin beaconbar-adminctl beaconbar-codesign-register; do
    remove "$root$prefix/bin/$program"
  done
  remove "$root$prefix/libexec/beaconbar-admin"
  remove "$root$prefix/share/polkit-1/actions/com.quillbank.Beaconbar.admin.policy"
  remove "$root$prefix/share/doc/Beaconbar" "$root$prefix/share/doc/beaconbar-admin"
  for unit in $units; do remove "$root$prefix/lib/systemd/system/$unit"; done
  # The console's menu entry and icon, and the command-line tool's recorder
  # as a user service.
  remove "$root$prefix/share/applications/com.quillbank.Beaconbar.Admin.desktop"
  remove "$root$prefix/share/icons/hicolor/scalable/apps/com.quillbank.Beaconbar.Admin.svg"
  remove "$root$prefix/lib/systemd/user/beaconbar-record.service"
done
for dir in /etc/systemd/system /lib/systemd/system; do
  for unit in $units; do remove "$root$dir/$unit"; done
done
# Enablement links, in case systemctl could not disable (no systemd running).
for unit in $sockets; do remove "$root/etc/systemd/system/sockets.target.wants/$unit"; done

config="$root/etc/beaconbar"
remove "$config/code-identities.plist" "$config/network-preferences.plist" "$config/network-preferences.plist.lock"
# Other files there are the administrator's.
if [ -d "$config" ] && ! rmdir "$config" 2>/dev/null && [ -z "$(ls -A "$config" 2>/dev/null)" ]; then
  echo "Could not remove $config." >&2
  failed=1
fi
remove "$root/var/lib/beaconbar-admin" "$root/run/beaconbar"

if [ "$units_managed" = 1 ]; then
  "$systemctl" daemon-reload >/dev/null 2>&1 || true
  "$systemctl" reset-failed $units >/dev/null 2>&1 || true
fi

if [ "$failed" != 0 ]; then
  echo "Some files of the admin helper could not be removed." >&2
  exit 1
fi
exit 0
