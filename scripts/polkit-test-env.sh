#!/usr/bin/env bash
# Brings up what the polkit integration tests need, and takes down again
# exactly what it brought up:
#   start  creates two test users (bcn-polkit-yes is granted the pair right,
#          bcn-polkit-no is refused it), installs the action and a test rule,
#          and starts the system bus and polkitd when they are not running;
#   stop   undoes what start did.
# Needs root; does nothing otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."

state=/run/beaconbar-polkit-test
action=/usr/share/polkit-1/actions/com.quillbank.Beaconbar.admin.policy
rule=/etc/polkit-1/rules.d/49-beaconbar-test.rules

[ "$(id -u)" = 0 ] || { echo "polkit test environment needs root; skipped"; exit 0; }

authority_answers() {
  # Root is authorized for this stock action whenever polkitd is reachable.
  pkcheck --action-id org.freedesktop.policykit.exec --process $$ >/dev/null 2>&1
}

start() {
  mkdir -p "$state"
  for user in bcn-polkit-yes bcn-polkit-no; do
    if ! id "$user" >/dev/null 2>&1; then
      useradd --system --no-create-home --shell /usr/sbin/nologin "$user"
      echo "$user" >> "$state/users"
    fi
  done
  if [ ! -e "$action" ]; then
    install -m 0644 deploy/polkit/com.quillbank.Beaconbar.admin.policy "$action"
    touch "$state/action"
  fi
  install -m 0644 /dev/stdin "$rule" <<'RULE'
// Test rule of the Beaconbar suite; removed when the suite ends.
polkit.addRule(function(action, subject) {
  if (action.id != "com.quillbank.Beaconbar.admin.pair") return polkit.Result.NOT_HANDLED;
  if (subject.user == "bcn-polkit-yes") return polkit.Result.YES;
  if (subject.user == "bcn-polkit-no") return polkit.Result.NO;
  return polkit.Result.NOT_HANDLED;
});
RULE
  if ! authority_answers; then
    if [ ! -S /run/dbus/system_bus_socket ] || ! dbus-send --system --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.GetId >/dev/null 2>&1; then
      mkdir -p /run/dbus
      rm -f /run/dbus/system_bus_socket /run/dbus/pid
      dbus-daemon --system --fork --print-pid > "$state/dbus.pid"
    fi
    /usr/lib/polkit-1/polkitd --no-debug >"$state/polkitd.log" 2>&1 &
    echo $! > "$state/polkitd.pid"
  fi
  for _ in $(seq 100); do
    authority_answers && break
    sleep 0.1
  done
  authority_answers || { echo "polkitd did not come up:"; cat "$state/polkitd.log" 2>/dev/null; exit 1; }
  # polkitd picks up new rules and actions through inotify; give it a moment.
  sleep 0.5
}

stop() {
  [ -d "$state" ] || exit 0
  rm -f "$rule"
  [ -e "$state/action" ] && rm -f "$action"
  for f in polkitd dbus; do
    if [ -s "$state/$f.pid" ]; then kill "$(cat "$state/$f.pid")" 2>/dev/null || true; fi
  done
  if [ -s "$state/users" ]; then
    while read -r user; do userdel "$user" 2>/dev/null || true; done < "$state/users"
  fi
  rm -rf "$state"
}

case "${1:-}" in
  start) start ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
