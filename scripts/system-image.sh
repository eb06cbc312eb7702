#!/usr/bin/env bash
# Makes the cached Debian 12 image the system test boots
# ($BCN_SYSTEM_TEST_HOME/base.tar, default /var/tmp/beaconbar-system-test):
# debootstrap minbase plus systemd, dbus, polkit and the tools the walk uses.
# Does nothing when the image exists. Needs root.
#
# scripts/system-test.sh runs it; .ci/run also starts it in the background
# before the build, because a cold image is mostly downloading and
# unpacking and overlaps well with the compiler. Two runs at once take
# turns on a lock, so the second finds the image made.
set -euo pipefail
cd "$(dirname "$0")/.."

[ "$(id -u)" = 0 ] || { echo "system-image.sh: run as root" >&2; exit 1; }
home=${BCN_SYSTEM_TEST_HOME:-/var/tmp/beaconbar-system-test}
base=$home/base
mkdir -p "$home"
exec 9>"$home/image.lock"
flock 9
[ -f "$home/base.tar" ] && exit 0

bash scripts/install-deps.sh package
started=$(date +%s)
machine=bcn-systest
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
