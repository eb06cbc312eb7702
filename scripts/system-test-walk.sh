# The road users walk on the booted machine, sourced by system-test.sh
# (which defines step, check, fail, inside, as_user, boot and power_off).
# alice is a normal user; admin is the administrator polkit asks for, with
# a password.

json() {  # json PYTHON-EXPRESSION: evaluates it over the JSON document on stdin as `d`
  python3 -c "import json, sys; d = json.load(sys.stdin); print($1)"
}
# Waits up to $1 seconds for a command to succeed.
eventually() {
  local limit=$1; shift
  for _ in $(seq $((limit * 4))); do "$@" && return 0; sleep 0.25; done
  return 1
}
link_up() { inside ip -o link show "$1" | grep -q '[<,]UP[,>]'; }
link_down() { ! link_up "$1"; }
is_socket() { inside test -S "$1"; }
tty_as() {  # tty_as NAME COMMAND [OPTION...]: COMMAND in NAME's login shell on a pseudo-terminal, password typed when asked
  local name=$1 command=$2; shift 2
  python3 "$repo/scripts/answer-on-terminal.py" --timeout 180 "$@" 'Password: ?$' "$admin_password" -- \
    nsenter -t "$(leader)" -a env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin TERM=xterm LANG=C.UTF-8 \
    runuser --pty -l "$name" -c "$command"
}

step "sockets enabled and listening"
for unit in beaconbar-admin.socket beaconbar-admin-control.socket; do
  check "$unit is enabled" test "$(inside systemctl is-enabled $unit)" = enabled
  check "$unit is listening" test "$(inside systemctl is-active $unit)" = active
done
app_socket=$(inside systemctl show -P Listen beaconbar-admin.socket | awk '{print $1}')
control_socket=$(inside systemctl show -P Listen beaconbar-admin-control.socket | awk '{print $1}')
check "the app socket $app_socket exists" is_socket "$app_socket"
check "the control socket $control_socket exists" is_socket "$control_socket"
check "the daemon is not running before the first connection" \
  test "$(inside systemctl is-active beaconbar-admin.service)" = inactive

step "the exporter serves metrics as a dynamic user"
scrape() {  # the exporter's /metrics, through bash's own TCP client (the machine has no curl)
  inside bash -c 'exec 3<>/dev/tcp/127.0.0.1/10190 && printf "GET /metrics HTTP/1.0\r\nHost: localhost\r\n\r\n" >&3 && cat <&3'
}
check "beaconbar-exporter.service is active" eventually 10 test "$(inside systemctl is-active beaconbar-exporter.service)" = active
exporter_user=$(inside ps -o user= -C beaconbar-exporter | head -n 1)
check "the exporter runs as a user of its own, not root ($exporter_user)" test -n "$exporter_user" -a "$exporter_user" != root
metrics=$(scrape || true)
check "a scrape answers 200 with the loopback interface up" \
  grep -q '^beaconbar_interface_up{interface="lo"} 1' <<<"$metrics"
check "the scrape is in the text format 0.0.4" grep -qi '^Content-Type: text/plain; version=0.0.4' <<<"$metrics"

step "beaconbar status activates the daemon"
status=$(as_user alice beaconbar status) || fail "beaconbar status failed: $status"
echo "$status" | sed 's/^/   /'
check "the daemon was started by the connection" test "$(inside systemctl is-active beaconbar-admin.service)" = active
check "status says alice is not paired" grep -q 'Paired *no' <<<"$status"

# The daemon keeps one waiting request per user, so alice's three pairings
# come one after another. The administrator approves all three in one
# beaconbar-adminctl session (one console model, as in the console's
# window): polkit asks for the password once and keeps the authorization
# (auth_admin_keep), so the second and third approvals must pass without
# asking again.
pending_ids() { as_user alice beaconbar-adminctl --json pending | json '" ".join(r["id"] for r in d["pending"])'; }
one_pending() { [ "$(pending_ids | wc -w)" = 1 ]; }
rm -f "$home/session.in" && mkfifo "$home/session.in"
tty_as alice "beaconbar-adminctl session" --forward-stdin <"$home/session.in" >"$home/session.log" 2>&1 &
session=$!
exec 7>"$home/session.in"
for n in 1 2 3; do
  step "alice asks for pairing $n; the administrator approves it in the session"
  # Each pairing keeps its own token file.
  as_user alice env XDG_CONFIG_HOME=/home/alice/.config-$n beaconbar pair >"$home/pair-$n.log" 2>&1 &
  pair=$!
  check "the request is pending" eventually 20 one_pending
  id=$(pending_ids)
  echo "approve $id" >&7
  if ! eventually 60 bash -c "! kill -0 $pair 2>/dev/null"; then kill "$pair" 2>/dev/null || true; fi
  wait "$pair" && paired=0 || paired=$?
  sed 's/^/   pair: /' "$home/pair-$n.log" | tail -n 1
  check "beaconbar pair ended with a token (exit $paired)" test "$paired" = 0
  check "the session reported approval $n" test "$(grep -c 'Beaconbar is paired' "$home/session.log")" = "$n"
done
exec 7>&-
wait "$session" && approved=0 || approved=$?
sed 's/^/   | /' "$home/session.log"
check "the session ended with every command done (exit $approved)" test "$approved" = 0
check "polkit's text agent asked for the administrator's password once, for the first approval" \
  test "$(grep -c 'Password:' "$home/session.log")" = 1
check "alice's first token is stored with mode 0600" test "$(inside stat -c %a /home/alice/.config-1/beaconbar/token)" = 600

step "alice switches the service of a veth off and on"
inside ip link add bcnst0 type veth peer name bcnst1
inside ip link set bcnst0 up
inside ip link set bcnst1 up
services=$(as_user alice env XDG_CONFIG_HOME=/home/alice/.config-1 beaconbar services --json)
service=$(json '[s["id"] for s in d["services"] if s["bsdName"] == "bcnst0"][0]' <<<"$services") ||
  fail "no service for bcnst0 in: $services"
echo "   service of bcnst0: $service"
switch() { as_user alice env XDG_CONFIG_HOME=/home/alice/.config-1 beaconbar service "$1" "$service"; }
check "beaconbar service off succeeds" switch off
check "bcnst0 went down" eventually 5 link_down bcnst0
check "bcnst1 (not switched) stayed up" link_up bcnst1
check "beaconbar service on succeeds" switch on
check "bcnst0 came up" eventually 5 link_up bcnst0

step "beaconbar tunnels names a tun owner"
inside systemd-run --quiet --unit=bcnst-tun \
  socat -u TUN:10.77.0.1/24,tun-name=bcnsttun,tun-type=tun,iff-no-pi,iff-up /dev/null
tun_there() { inside ip link show bcnsttun >/dev/null 2>&1; }
check "the tun link exists" eventually 10 tun_there
socat_pid=$(inside systemctl show -P MainPID bcnst-tun.service)
tunnels=$(as_user alice beaconbar tunnels --json) || fail "beaconbar tunnels failed: $tunnels"
owner=$(json '" ".join(str(t["pid"]) + ":" + t["name"] for t in d["tunnels"] if t["interface"] == "bcnsttun")' \
  <<<"$tunnels")
echo "   owner of bcnsttun: $owner"
check "the owner is socat, pid $socat_pid" test "$owner" = "$socat_pid:socat"
exporter_owns() { scrape | grep -q "^beaconbar_tunnel_owner_info{interface=\"bcnsttun\",pid=\"$socat_pid\",process=\"socat\""; }
check "the exporter names the same owner, asked of the daemon as a dynamic user" eventually 5 exporter_owns

step "a reboot keeps the pairings"
power_off
boot --private-network
for unit in beaconbar-admin.socket beaconbar-admin-control.socket; do
  check "$unit listens after the reboot" test "$(inside systemctl is-active $unit)" = active
done
for n in 1 2 3; do
  status=$(as_user alice env XDG_CONFIG_HOME=/home/alice/.config-$n beaconbar status) || true
  check "pairing $n is still known to the daemon" grep -q 'Paired *yes' <<<"$status"
done

# Everything a package or its daemon leaves on the machine that is named
# after it, and the systemd units and sockets systemd still knows.
leftovers() {
  inside find / -xdev \( -path /root/packages -o -path /home -o -path /proc \) -prune -o \
    \( -iname '*beaconbar*' -o -iname '*quillbank*' -o -iname '*netcore*' \) -print
  inside systemctl list-unit-files --no-legend 'beaconbar*' | awk '{print $1}'
  # A unit whose file is gone may stay listed as not-found until systemd
  # drops it from memory; only units still loaded count.
  inside systemctl list-units --all --plain --no-legend 'beaconbar*' | grep -v not-found | awk '{print $1}' 
  inside ss -xlH | grep -i beaconbar || true
  # Mounts of their own, which find does not enter.
  inside sh -c 'ls -d /run/beaconbar /tmp/*beaconbar* 2>/dev/null' || true
}
step "apt purge of the exporter, the tray and the library's headers"
inside apt-get purge -y -q beaconbar-exporter beaconbar-tray libnetcore-dev >"$home/apt.log" 2>&1 ||
  fail "apt purge failed: $(tail -n 5 "$home/apt.log")"
left=$(leftovers | grep -i -e exporter -e tray -e include/netcore -e cmake/NetCore -e netcore.pc || true)
check "nothing of them is left (files, unit files, units, their enablement and private directories): ${left:-none}" \
  test -z "$left"

# What the packages the console's uninstaller leaves own: the command-line
# tool and the library it links.
others=(beaconbar libnetcore0)
owned_by_others() {
  local p
  for p in "${others[@]}"; do
    inside sh -c "dpkg -L $p; ls -d /var/lib/dpkg/info/$p.* /var/lib/dpkg/info/$p:*" 2>/dev/null
  done
}

step "uninstall through the console's script (pkexec on a terminal)"
installed=$(leftovers | grep -c .)
check "the search for leftovers finds the installed system first ($installed paths)" test "$installed" -gt 20
uninstall=$(tty_as admin 'pkttyagent --process $$ --fallback & sleep 1; pkexec --disable-internal-agent /bin/sh /usr/libexec/beaconbar-admin/uninstall.sh; s=$?; kill %1; exit $s') &&
  uninstalled=0 || uninstalled=$?
echo "$uninstall" | sed 's/^/   | /'
check "the uninstaller exited 0 (exit $uninstalled)" test "$uninstalled" = 0
check "dpkg no longer knows beaconbar-admin" \
  test -z "$(inside dpkg-query -W -f='${db:Status-Status}' beaconbar-admin 2>/dev/null | grep -v not-installed)"
left=$(leftovers | grep -vxF -f <(owned_by_others) || true)
check "nothing of the admin helper is left (checked: files and directories named beaconbar or quillbank outside /home and the other packages, unit files, units, listening sockets): ${left:-none}" test -z "$left"
still_runs() { as_user alice beaconbar interfaces >/dev/null; }
check "the beaconbar command (its own package) still runs" still_runs

step "reinstall, then apt purge"
inside sh -c 'apt-get install -y -q --no-install-recommends /root/packages/*.deb' >"$home/apt.log" 2>&1 ||
  fail "reinstalling failed: $(tail -n 5 "$home/apt.log")"
check "the sockets listen again" test "$(inside systemctl is-active beaconbar-admin.socket)" = active
answers() { as_user alice beaconbar status >/dev/null; }
check "the daemon answers again" answers
inside sh -c 'apt-get purge -y -q $(dpkg-query -W -f "\${Package}\n" "beaconbar*" "libnetcore*")' >"$home/apt.log" 2>&1 || fail "apt purge failed: $(tail -n 5 "$home/apt.log")"
left=$(leftovers || true)
check "apt purge left nothing (files, directories, unit files, units, sockets): ${left:-none}" test -z "$left"
