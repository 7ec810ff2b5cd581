#!/bin/bash
# The packaged service on a real, booted Debian 12 system, by hand (not part
# of CI; needs root, debootstrap and systemd-container):
#
#   sudo tests/package/nspawn-system-service.sh build/velmora.deb [OLD.deb]
#
# Makes a clean Debian 12 root (the debootstrap once, kept in
# $VELMORA_NSPAWN_DIR, default /var/tmp/velmora-nspawn), installs the package
# into it by chroot (the booted system has no network, so its dependencies
# come in here; this is also the install without systemd running), then
# boots it with
#   systemd-nspawn -b --register=no --keep-unit --private-network
# and shows, each step timed:
#   - the system socket listens on 127.0.0.1:8642 before any service runs;
#   - the first connection starts the service as its own account;
#   - two users' clients (the real client, offscreen, and curl for their
#     logins) share that one service, each with their own watch list;
#   - an upgrade (the same package with a higher version) restarts it onto
#     the new program with the database kept;
#   - remove keeps the database, purge removes it.
# Given OLD.deb, a package with the per-user units, that one is installed by
# chroot instead, alice's own service runs at boot (she lingers), and the
# package is installed over it on the booted system: her user units go, her
# database stays, the system socket takes the port.
set -euo pipefail

deb=$(realpath "$1")
old=${2:+$(realpath "$2")}
work=${VELMORA_NSPAWN_DIR:-/var/tmp/velmora-nspawn}
root="$work/root"
base="$work/bookworm-base.tar"
started=$(date +%s.%N)

step() { printf '\n[%6.1fs] == %s\n' "$(echo "$(date +%s.%N) - $started" | bc)" "$*"; }
fail() { echo "FAILED: $*" >&2; exit 1; }

mkdir -p "$work"
# A clean root for every run, from one debootstrap kept as a tarball.
if [ ! -f "$base" ]; then
    step "debootstrap Debian 12 (once)"
    rm -rf "$work/base"
    debootstrap --variant=minbase \
        --include=systemd,systemd-sysv,dbus,iproute2,procps,curl,sqlite3,ca-certificates \
        bookworm "$work/base" http://deb.debian.org/debian >"$work/debootstrap.log"
    tar -C "$work/base" -cf "$base" .
    rm -rf "$work/base"
fi
step "a clean root from the Debian 12 base"
rm -rf "$root"
mkdir -p "$root"
tar -C "$root" -xf "$base"

cp /etc/resolv.conf "$root/etc/resolv.conf"
cp "$deb" "$root/root/velmora.deb"
# The upgrade: the same package, one version up.
rm -rf "$work/repack" && dpkg-deb -R "$deb" "$work/repack"
sed -i 's/^Version: \(.*\)$/Version: \1+1/' "$work/repack/DEBIAN/control"
dpkg-deb -b "$work/repack" "$root/root/velmora-newer.deb" >/dev/null
chroot "$root" apt-get update -qq
for u in alice bob; do chroot "$root" useradd -m "$u"; done
if [ -n "$old" ]; then
    step "install the old package by chroot: per-user units"
    cp "$old" "$root/root/velmora-old.deb"
    # adduser too, which the new package needs and the booted system cannot
    # fetch, and what starts a lingering user's manager.
    chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        /root/velmora-old.deb adduser libpam-systemd >"$work/install.log" 2>&1 || { tail -20 "$work/install.log"; fail "install"; }
    ls -l "$root/etc/systemd/user/sockets.target.wants/"
    mkdir -p "$root/var/lib/systemd/linger" && touch "$root/var/lib/systemd/linger/alice"
else
    step "install by chroot, no systemd running: apt-get install ./velmora.deb"
    chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        /root/velmora.deb >"$work/install.log" 2>&1 || { tail -20 "$work/install.log"; fail "install"; }
    tail -3 "$work/install.log"
    chroot "$root" getent passwd velmora-service
    chroot "$root" ls -ld /var/lib/velmora-service
    ls -l "$root/etc/systemd/system/sockets.target.wants/"
fi
echo velmora-nspawn >"$root/etc/hostname"

step "boot: systemd-nspawn -b --register=no --keep-unit --private-network"
systemd-nspawn -b --register=no --keep-unit --private-network --console=passive -D "$root" \
    >"$work/boot.log" 2>&1 &
nspawn=$!
trap 'kill $nspawn 2>/dev/null; wait $nspawn 2>/dev/null || true' EXIT
leader=""
for _ in $(seq 100); do
    leader=$(pgrep -P "$nspawn" -x systemd || true)
    [ -n "$leader" ] && break
    sleep 0.2
done
[ -n "$leader" ] || fail "no systemd in the container"
inside() { nsenter --target "$leader" --all --root --wd "$@"; }
as() { local who=$1; shift; inside runuser -u "$who" -- "$@"; }
# Until its manager answers (its bus appears a moment after it starts), then
# until the boot has finished.
state=""
for _ in $(seq 150); do
    state=$(inside timeout 90 systemctl is-system-running --wait 2>/dev/null || true)
    [ -n "$state" ] && break
    sleep 0.2
done
step "booted: $state"

api=http://127.0.0.1:8642/api/nokiaApp
if [ -n "$old" ]; then
    step "old package: alice's user socket holds the port; her own service and database"
    inside ss -ltnp 'sport = :8642'
    as alice curl -sS -o /dev/null -w 'getCounties: %{http_code}\n' "$api/getCounties.php"
    inside ls -l "/home/alice/.local/share/Orvane Software/velmora-service/"

    step "upgrade to the new package on the booted system: apt-get install ./velmora.deb"
    inside env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq /root/velmora.deb 2>&1 | tail -2
    inside ls /etc/systemd/user/sockets.target.wants/ 2>&1 || true
    inside ls -l "/home/alice/.local/share/Orvane Software/velmora-service/"
fi

step "the socket listens; no service yet"
inside ss -ltnp 'sport = :8642'
inside systemctl is-active velmora-service.socket
inside systemctl is-active velmora-service.service || true

step "accounts by root: velmora-service user add (password from a pipe)"
printf 'alice-pw\n' | inside velmora-service user add alice
printf 'bob-pw\n' | inside velmora-service user add bob
inside systemctl is-active velmora-service.service || true

step "first connection: alice's client starts the service"
as alice curl -sS "$api/addToWatchlist.php?username=alice&password=alice-pw&id=3"; echo
inside ps -o user:16,pid,args -C velmora-service
pid=$(inside systemctl show -P MainPID velmora-service)

step "two users' clients, one service"
as bob curl -sS "$api/addToWatchlist.php?username=bob&password=bob-pw&id=5"; echo
for u in alice bob; do
    printf '%s: ' "$u"
    as "$u" curl -sS "$api/getStationsByWatchlist.php?username=$u&password=$u-pw" | grep -o 'ID="[0-9]*"' | tr '\n' ' '
    echo
done
# The real client of each user, offscreen, until the service has its
# county request.
for u in alice bob; do
    before=$(inside journalctl -u velmora-service -o cat | grep -c getCounties.php || true)
    as "$u" sh -c "echo \$\$ >/tmp/$u-client.pid; exec env QT_QPA_PLATFORM=offscreen velmora" >/dev/null 2>&1 &
    for _ in $(seq 100); do
        now=$(inside journalctl -u velmora-service -o cat | grep -c getCounties.php || true)
        [ "$now" -gt "$before" ] && break
        sleep 0.2
    done
    inside sh -c "kill \$(cat /tmp/$u-client.pid)" || true
    echo "$u's client: counties requests seen by the service: $before -> $now"
done
echo "service PID still $(inside systemctl show -P MainPID velmora-service) (was $pid)"
inside journalctl -u velmora-service -o cat | grep -E "GET /" | tail -6

step "upgrade: apt-get install ./velmora-newer.deb (offline, dependencies present)"
inside env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq /root/velmora-newer.deb 2>&1 | tail -2
inside dpkg-query -W velmora
inside systemctl is-active velmora-service.service velmora-service.socket || true
newpid=$(inside systemctl show -P MainPID velmora-service)
echo "service PID $pid -> $newpid"
as alice curl -sS "$api/getStationsByWatchlist.php?username=alice&password=alice-pw" | grep -o 'ID="[0-9]*"'
inside velmora-service user list

step "remove: the database stays"
inside env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq velmora 2>&1 | tail -1
inside ss -ltn 'sport = :8642'
inside ls -l /var/lib/velmora-service/

step "purge: the database goes"
inside env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq velmora 2>&1 | tail -1
inside ls -ld /var/lib/velmora-service 2>&1 || true

step "power off"
inside systemctl poweroff || true
wait "$nspawn" || true
trap - EXIT

step "without systemd running (chroot): install, upgrade, remove, purge"
apt_chroot() { chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get -y -qq "$@" 2>&1 | tail -1; }
apt_chroot install /root/velmora.deb
printf 'carol-pw\n' | chroot "$root" velmora-service user add carol
apt_chroot install /root/velmora-newer.deb
chroot "$root" velmora-service user list 2>&1
apt_chroot remove velmora
chroot "$root" ls /var/lib/velmora-service
apt_chroot purge velmora
chroot "$root" ls -ld /var/lib/velmora-service 2>&1 || true
step "done"
