#!/bin/sh
# Removes Beaconbar's admin daemon from this machine: stops and disables its
# socket and service units, then deletes the installed programs, the polkit
# action, the unit files, the code-identity registry and the daemon's state
# (its pairings). The admin console runs it through pkexec, which also
# clears the environment; the two variables below exist for tests only.
#
#   BEACONBAR_UNINSTALL_ROOT  directory that stands for / (default: none)
#   BEACONBAR_SYSTEMCTL       the systemctl to call (default: systemctl)
#
# Every step is tried even when an earlier one fails; the exit status is 0
# only when everything that was installed is gone. Messages go to stderr,
# where the console shows them.
set -u

root="${BEACONBAR_UNINSTALL_ROOT:-}"
systemctl="${BEACONBAR_SYSTEMCTL:-systemctl}"
units="beaconbar-admin.socket beaconbar-admin.service"
failed=0

if [ -z "$root" ] && [ "$(id -u)" != 0 ]; then
  echo "The uninstaller must run as root." >&2
  exit 1
fi

# Without systemd running (and outside tests) there are no units to stop.
units_managed=0
if [ -n "$root" ] || [ -d /run/systemd/system ]; then units_managed=1; fi

# Stopping the socket first keeps it from starting the service again.
if [ "$units_managed" = 1 ]; then
  for unit in $units; do
    "$systemctl" stop "$unit" >/dev/null 2>&1 || true
    "$systemctl" disable "$unit" >/dev/null 2>&1 || true
  done
fi

remove() {
  for path in "$@"; do
    if [ -e "$path" ] || [ -L "$path" ]; then
      if ! rm -rf -- "$path"; then
        echo "Could not remove $path." >&2
        failed=1
      fi
    fi
  done
}

for prefix in /usr /usr/local; do
  remove "$root$prefix"/bin/beaconbar*
  remove "$root$prefix/libexec/beaconbar-admin"
  remove "$root$prefix/share/polkit-1/actions/com.quillbank.Beaconbar.admin.policy"
  remove "$root$prefix/lib/systemd/system/beaconbar-admin.socket" "$root$prefix/lib/systemd/system/beaconbar-admin.service"
done
for dir in /etc/systemd/system /lib/systemd/system; do
  remove "$root$dir/beaconbar-admin.socket" "$root$dir/beaconbar-admin.service"
done
remove "$root/etc/beaconbar/code-identities.plist"
rmdir "$root/etc/beaconbar" 2>/dev/null || true
remove "$root/var/lib/beaconbar-admin" "$root/run/beaconbar"

if [ "$units_managed" = 1 ]; then
  "$systemctl" daemon-reload >/dev/null 2>&1 || true
fi

if [ "$failed" != 0 ]; then
  echo "Some files of the admin helper could not be removed." >&2
  exit 1
fi
exit 0
