#!/usr/bin/env bash
# Makes the cached Debian 12 image the system test boots
# ($BCN_SYSTEM_TEST_HOME/base.tar, default /var/tmp/beaconbar-system-test):
# debootstrap minbase plus systemd, dbus, polkit and the tools the walk uses.
# Does nothing when the image exists. Needs root.
#
#   bash scripts/system-image.sh         the image
#   bash scripts/system-image.sh suite   also the test suite's machine root
#                                        ($BCN_SYSTEM_TEST_HOME/suite-root):
#                                        the image plus install-deps.sh test,
#                                        itself cached as suite.tar
#
# scripts/system-test.sh runs it; .ci/run also starts it in the background
# before the build, because a cold image and the suite's packages are mostly
# downloading and unpacking and overlap well with the compiler. Two runs at
# once take turns on a lock, so the second finds the work done.
set -euo pipefail
cd "$(dirname "$0")/.."

[ "$(id -u)" = 0 ] || { echo "system-image.sh: run as root" >&2; exit 1; }
case "${1:-}" in
'' | suite) ;;
*) echo "usage: $0 [suite]" >&2; exit 2 ;;
esac
home=${BCN_SYSTEM_TEST_HOME:-/var/tmp/beaconbar-system-test}
base=$home/base
archives=$home/apt-archives
mkdir -p "$home" "$archives/partial"
exec 9>"$home/image.lock"
flock 9

# The suite's root is booted once and then thrown away (system-test.sh);
# what it starts from is cached beside the image as suite.tar, made from the
# current image and the current package list (the key says which).
make_suite_root() {
  local suite=$home/suite-root cache=$home/suite.tar key started
  key="$(stat -c %Y "$home/base.tar") $(sha256sum <scripts/install-deps.sh)"
  [ -d "$suite" ] && [ "$(cat "$suite.key" 2>/dev/null)" = "$key" ] && return 0
  started=$(date +%s)
  rm -f "$suite.key"
  rm -rf --one-file-system "$suite" && mkdir -p "$suite"
  if [ -f "$cache" ] && [ "$(cat "$cache.key" 2>/dev/null)" = "$key" ]; then
    tar -C "$suite" -xf "$cache"
  else
    tar -C "$suite" -xf "$home/base.tar"
    # This host's download cache has most of them when its own suite ran
    # here; links cost nothing where both are on one file system.
    cp -nl /var/cache/apt/archives/*.deb "$archives/" 2>/dev/null || true
    systemd-nspawn -q -D "$suite" --register=no --keep-unit --bind="$archives:/var/cache/apt/archives" \
      --bind-ro="$PWD/scripts:/root/bcn-scripts" env DEBIAN_FRONTEND=noninteractive \
      bash /root/bcn-scripts/install-deps.sh test </dev/null >"$home/test-deps.log" 2>&1 ||
      { tail -n 20 "$home/test-deps.log" >&2; echo "system-image.sh: installing the test suite's packages failed" >&2; return 1; }
    rm -f "$cache.key"
    tar -C "$suite" -cf "$cache.tmp" . && mv "$cache.tmp" "$cache" && echo "$key" >"$cache.key"
  fi
  echo "$key" >"$suite.key"
  echo "system-image.sh: made $suite in $(( $(date +%s) - started )) s"
}

make_image() {
  bash scripts/install-deps.sh package
  local started machine=bcn-systest mirror
  started=$(date +%s)
  # Debian 12 minbase, as a new machine has it, with systemd as init, the
  # system bus and polkit (the daemon's authorization), sudo for the
  # administrator, iproute2 for the links and socat to hold a tun queue.
  if [ ! -f "$base/.bootstrapped" ]; then
    rm -rf "$base"
    mirror=$(awk '/^URIs:/{print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
    debootstrap --variant=minbase \
      --include=systemd,systemd-sysv,dbus,polkitd,pkexec,iproute2,procps,sudo,libpam-systemd \
      bookworm "$base" "${mirror:-http://deb.debian.org/debian}" >"$home/debootstrap.log" 2>&1 ||
      { tail -n 20 "$home/debootstrap.log" >&2; exit 1; }
    touch "$base/.bootstrapped"
  fi
  echo $machine >"$base/etc/hostname"
  printf '127.0.0.1\tlocalhost\n127.0.1.1\t%s\n::1\t\tlocalhost ip6-localhost ip6-loopback\n' $machine >"$base/etc/hosts"
  cp /etc/apt/sources.list.d/debian.sources "$base/etc/apt/sources.list.d/" 2>/dev/null && rm -f "$base/etc/apt/sources.list"
  cp /etc/resolv.conf "$base/etc/resolv.conf"
  chroot "$base" apt-get update -q >/dev/null
  chroot "$base" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends socat >/dev/null
  chroot "$base" apt-get clean
  rm -f "$base/.bootstrapped"
  tar -C "$base" -cf "$home/base.tar.tmp" . && mv "$home/base.tar.tmp" "$home/base.tar" && rm -rf "$base"
  echo "system-image.sh: made $home/base.tar in $(( $(date +%s) - started )) s"
}

[ -f "$home/base.tar" ] || make_image
if [ "${1:-}" = suite ]; then make_suite_root; fi
