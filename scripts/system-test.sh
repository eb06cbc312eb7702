#!/usr/bin/env bash
# The installed system on a booted Debian 12 machine: builds (or reuses)
# the Debian packages, boots a fresh Debian 12 with systemd as PID 1 in a
# systemd-nspawn container, installs the packages there with apt and walks
# the road as users do, then checks that both ways of uninstalling leave
# nothing behind. Prints the time of each step. Needs root.
#
# After the walk a second fresh machine, the image plus the suite's
# packages, runs the test suite (scripts/test.sh suite) from this clone,
# bound into it at the same path.
#
# The container's root is made anew from a cached image
# (/var/tmp/beaconbar-system-test/base.tar: debootstrap minbase plus
# systemd, dbus, polkit and the tools the walk uses); downloaded packages
# are kept in /var/tmp/beaconbar-system-test/apt-archives. The machine is
# booted twice: first sharing this host's network so apt can fetch the
# packages' dependencies, then with a private network namespace (only lo,
# CAP_NET_ADMIN inside it) for the walk, whose veth and tun links exist
# only there. This host's own links are never touched.
#
#   BCN_SYSTEM_TEST_HOME  cache and machine directory (default above)
#   BCN_PACKAGE_REUSE=1   use the packages in build-package/packages as they are
#   BCN_SYSTEM_TEST_KEEP=1  keep the machine's root afterwards, to look into it
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

[ "$(id -u)" = 0 ] || { echo "system-test.sh: run as root" >&2; exit 1; }
home=${BCN_SYSTEM_TEST_HOME:-/var/tmp/beaconbar-system-test}
root=$home/root
archives=$home/apt-archives
pidfile=$home/nspawn.pid
machine=bcn-systest
admin_password=bcn-systest-admin-pw
failures=()

# --- timing ---------------------------------------------------------------
timings=()
step_name=""
step_start=0
step() {
  local now; now=$(date +%s.%N)
  if [ -n "$step_name" ]; then
    timings+=("$(awk -v a="$step_start" -v b="$now" -v n="$step_name" 'BEGIN { printf "%6.1f s  %s", b - a, n }')")
  fi
  step_name=$1
  step_start=$now
  [ -n "$step_name" ] && echo "== $step_name"
  return 0
}
fail() {
  echo "FAIL: $*" >&2
  failures+=("$*")
}
check() {  # check DESCRIPTION COMMAND...: a failing check is recorded, the walk goes on
  local what=$1; shift
  if "$@"; then echo "   ok: $what"; else fail "$what"; fi
}

# --- the machine ----------------------------------------------------------
leader() {  # pid of the machine's systemd
  local np; np=$(cat "$pidfile" 2>/dev/null) || return 1
  pgrep -P "$np" -x systemd | head -n 1
}
inside() {  # inside CMD...: as root in the machine, clean environment
  local p; p=$(leader) || { echo "system-test.sh: the machine is not running" >&2; return 1; }
  nsenter -t "$p" -a env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
    LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"
}
as_user() {  # as_user NAME CMD...: a login shell of NAME in the machine
  local name=$1; shift
  inside runuser -l "$name" -c "$(printf '%q ' "$@")"
}
power_off() {
  [ -f "$pidfile" ] || return 0
  local np; np=$(cat "$pidfile")
  inside systemctl poweroff >/dev/null 2>&1 || true
  for _ in $(seq 60); do kill -0 "$np" 2>/dev/null || break; sleep 0.5; done
  kill "$np" 2>/dev/null || true
  for _ in $(seq 20); do kill -0 "$np" 2>/dev/null || break; sleep 0.5; done
  rm -f "$pidfile"
}
boot() {  # boot [NSPAWN-OPTION...], e.g. --private-network
  setsid systemd-nspawn -D "$root" -b --register=no --keep-unit --console=passive --machine=$machine \
    --bind="$archives:/var/cache/apt/archives" "$@" </dev/null >>"$home/console.log" 2>&1 &
  echo $! >"$pidfile"
  local state
  for _ in $(seq 120); do
    state=$(inside systemctl is-system-running 2>/dev/null) || true
    case "$state" in running|degraded) echo "   up ($state${1:+, $*})"; return 0 ;; esac
    sleep 0.5
  done
  echo "system-test.sh: the machine did not come up; see $home/console.log" >&2
  exit 1
}
cleanup() {
  power_off
  [ "${BCN_SYSTEM_TEST_KEEP:-0}" = 1 ] || rm -rf --one-file-system "$root"
}
trap cleanup EXIT

# --- packages and image ---------------------------------------------------
mkdir -p "$home"
step "packages (scripts/package.sh)"
bash scripts/install-deps.sh package
bash scripts/package.sh >"$home/package.log" 2>&1 || { tail -n 40 "$home/package.log" >&2; exit 1; }
grep -A4 '^== ' "$home/package.log" || tail -n 1 "$home/package.log"
debs=("$repo"/build-package/packages/*.deb)

step "image"
mkdir -p "$home" "$archives/partial"
[ -f "$pidfile" ] && power_off
bash scripts/system-image.sh
rm -rf --one-file-system "$root" && mkdir -p "$root" && tar -C "$root" -xf "$home/base.tar"
: >"$home/console.log"

step "boot with the host's network"
boot

step "install the packages with apt"
mkdir -p "$root/root/packages" && cp "${debs[@]}" "$root/root/packages/"
install_packages() {
  inside sh -c 'apt-get install -y -q --no-install-recommends /root/packages/*.deb' >"$home/apt.log" 2>&1
}
if ! install_packages; then
  # The image's package lists may be older than the mirror.
  inside apt-get update -q >/dev/null 2>&1 || true
  install_packages || { tail -n 30 "$home/apt.log" >&2; exit 1; }
fi
inside dpkg-query -W -f='   ${Package} ${Version}\n' 'beaconbar*' 'libnetcore*'
inside useradd -m -s /bin/bash alice
inside useradd -m -s /bin/bash -G sudo admin
inside sh -c "echo 'admin:$admin_password' | chpasswd"

step "boot with a private network"
power_off
boot --private-network

# shellcheck source=scripts/system-test-walk.sh
source "$repo/scripts/system-test-walk.sh"

# The test suite as a user runs it on this machine: scripts/test.sh from
# the clone, as root, started by the machine's own systemd (its
# capabilities and system call filter, no journal stream on the output),
# with the clone at the same path as here so the build made on this host
# is up to date there. The suite is the part that depends on the machine
# (journald, logind, polkit's agents, /root of mode 0700, the units'
# sandbox). The soak, the fuzz gate and the benchmark ran on this host: the
# first exercises the same daemon under load with time limits set for the
# host, the others pure code.
#
# The suite gets a machine of its own, the image plus the suite's packages
# (install-deps.sh test): CI makes it in the background while it builds,
# otherwise it is made here.
step "the test suite's machine (system-image.sh suite)"
power_off
suite_machine=0
if bash scripts/system-image.sh suite; then
  rm -rf --one-file-system "$root"
  mv "$home/suite-root" "$root" && rm -f "$home/suite-root.key" && suite_machine=1
fi
((suite_machine)) || fail "making the test suite's machine failed (log $home/test-deps.log)"

step "scripts/test.sh suite on the booted machine"
rm -f "$home/test.log"
((suite_machine)) && boot --private-network --bind="$repo:$repo"
if ((suite_machine)) && inside systemd-run --quiet --wait --pipe --collect --service-type=exec -p WorkingDirectory="$repo" \
    -E HOME=/root -E LANG=C.UTF-8 bash scripts/test.sh suite </dev/null >"$home/test.log" 2>&1; then
  tested=0
else
  tested=$?
fi
grep -E 'tests passed|tests failed|Total Test time' "$home/test.log" | sed 's/^/   /' || true
((tested == 0)) || grep -E -A 30 'The following tests FAILED' "$home/test.log" | head -n 40 >&2 || tail -n 40 "$home/test.log" >&2
check "scripts/test.sh suite passed on the booted machine (exit $tested, log $home/test.log)" test "$tested" = 0

step ""
echo
echo "Timings:"
printf '  %s\n' "${timings[@]}"
if ((${#failures[@]})); then
  echo "system-test.sh: ${#failures[@]} check(s) failed:" >&2
  printf '  %s\n' "${failures[@]}" >&2
  exit 1
fi
echo "system-test.sh: every check passed"
