#!/usr/bin/env bash
# Installs the built packages into a fresh minimal Debian 12 root
# (debootstrap --variant=minbase bookworm), checks the files, the system
# user, the conffile and its mode, runs kovrad --version, runs the
# installed kovrad as its user against the installed simulator, compares
# kovra status with the simulator's values and runs kovra help (which needs
# the service), then purges the packages and checks that nothing of them
# is left.
#
# systemd does not run in a chroot, so the unit itself is not started here;
# kovrad runs as the unit would run it (user _kovra, the packaged agent),
# with a configuration of the test's own whose shutdown command only
# writes a file, which a simulated power failure must run.
#
# usage: scripts/test-deb-install.sh [DEB_DIR]   (default build-deb; run as
# root). The mirror is the first Debian one of this machine's apt sources
# unless DEBIAN_MIRROR names another. KEEP_ROOT=1 keeps the root folder.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
DEB_DIR=${1:-build-deb}
case "$DEB_DIR" in /*) ;; *) DEB_DIR="$ROOT/$DEB_DIR" ;; esac

fail() { echo "deb-test: FAIL: $*" >&2; exit 1; }
step() { printf '\n== %s\n' "$*"; }

[ "$(id -u)" -eq 0 ] || fail "run as root (debootstrap and chroot need it)"
shopt -s nullglob
debs=("$DEB_DIR"/kovra_*.deb "$DEB_DIR"/kovra-sim_*.deb)
[ ${#debs[@]} -eq 2 ] || fail "no kovra and kovra-sim packages in $DEB_DIR (make deb)"

mirror=${DEBIAN_MIRROR:-}
if [ -z "$mirror" ]; then
  mirror=$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
    awk '$1 == "URIs:" && $2 ~ /\/debian\/?$/ { print $2; exit }')
fi
if [ -z "$mirror" ]; then
  mirror=$(awk '$1 == "deb" && $3 == "bookworm" { print $2; exit }' \
    /etc/apt/sources.list 2>/dev/null || true)
fi
[ -n "$mirror" ] || fail "no Debian mirror in the apt sources; set DEBIAN_MIRROR"

WORK=$(mktemp -d /var/tmp/kovra-deb-test.XXXXXX)
R="$WORK/root"
PIDS=()
NETNS=""
cleanup() {
  set +e
  stop_started
  # Whatever else still runs inside the root (only what this test started).
  for proc in /proc/[0-9]*; do
    [ "$(readlink "$proc/root" 2>/dev/null)" = "$R" ] && kill -KILL "${proc#/proc/}"
  done
  sleep 0.5
  [ -n "${NETNS:-}" ] && mountpoint -q "$NETNS" && umount "$NETNS"
  for mount in "$R/dev" "$R/sys" "$R/proc"; do
    mountpoint -q "$mount" && { umount -R "$mount" || umount -R -l "$mount"; }
  done
  if [ "${KEEP_ROOT:-}" = 1 ]; then
    echo "deb-test: root kept in $R"
  else
    # Only once nothing is mounted in it any more.
    grep -q " $R/" /proc/mounts || rm -rf "$WORK"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Stops the programs started in the root, kovrad (which stops its agent)
# before the simulator, each within 10 s.
stop_started() {
  local pid
  for pid in "${PIDS[@]}"; do
    kill -TERM "$pid" 2>/dev/null || continue
    for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
  done
  PIDS=()
}

in_root() { chroot "$R" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
  DEBIAN_FRONTEND=noninteractive LC_ALL=C "$@"; }
# The same in the root's own network (loopback only).
in_root_net() { nsenter --net="$NETNS" chroot "$R" env -i \
  PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C "$@"; }
as_kovra() { in_root setpriv --reuid=_kovra --regid=_kovra --init-groups \
  env UPSAGENT_SERIAL_PATTERN=/tmp/ups/ttyS%d "$@"; }

# The root gets a network of its own with only loopback: kovra always
# talks to 127.0.0.1:8855, which a kovrad or a test on this machine may hold.
NETNS="$WORK/netns"
touch "$NETNS"
unshare --net="$NETNS" true
nsenter --net="$NETNS" ip link set lo up

step "debootstrap --variant=minbase bookworm (a few minutes)"
debootstrap --variant=minbase bookworm "$R" "$mirror" >"$WORK/debootstrap.log" 2>&1 ||
  { tail -20 "$WORK/debootstrap.log"; fail "debootstrap"; }
mount -t proc proc "$R/proc"
mount --rbind /sys "$R/sys" && mount --make-rslave "$R/sys"
mount --rbind /dev "$R/dev" && mount --make-rslave "$R/dev"
mkdir -p "$R/tmp/debs"
cp "${debs[@]}" "$R/tmp/debs/"

step "apt-get install ./kovra_*.deb ./kovra-sim_*.deb"
in_root sh -c 'cd /tmp/debs && apt-get install -y -q ./kovra_*.deb ./kovra-sim_*.deb' \
  >"$WORK/install.log" 2>&1 || { tail -30 "$WORK/install.log"; fail "install"; }
grep -E "^(Setting up|Creating)" "$WORK/install.log" | grep -Ei "kovra|polkit|systemd " || true

step "files"
for file in /usr/bin/kovra /usr/sbin/kovrad /usr/libexec/kovra/upsagent \
    /usr/bin/upssim /lib/systemd/system/kovrad.service \
    /usr/lib/sysusers.d/kovra.conf \
    /usr/share/polkit-1/rules.d/60-kovra-shutdown.rules \
    /usr/share/man/man1/kovra.1.gz /usr/share/man/man5/kovrad.5.gz \
    /usr/share/man/man8/kovrad.8.gz /usr/share/man/man8/upsagent.8.gz \
    /usr/share/man/man1/upssim.1.gz /etc/kovra/kovrad.conf; do
  [ -e "$R$file" ] || fail "$file is missing"
done
[ -e "$R/usr/bin/upsagent" ] && fail "upsagent is in /usr/bin"
[ -L "$R/etc/systemd/system/multi-user.target.wants/kovrad.service" ] ||
  fail "the unit is not enabled"
echo "ok: programs, unit (enabled), sysusers file, polkit rule, man pages"

step "user and state folder"
in_root getent passwd _kovra || fail "no user _kovra"
groups=$(in_root id -nG _kovra)
case " $groups " in *" dialout "*) ;; *) fail "_kovra is not in dialout: $groups" ;; esac
state=$(in_root stat -c '%U:%G %a' /var/lib/kovrad)
[ "$state" = "_kovra:_kovra 700" ] || fail "/var/lib/kovrad is $state"
echo "ok: _kovra in $groups; /var/lib/kovrad $state"

step "conffile"
in_root dpkg-query -W -f='${Conffiles}\n' kovra | grep -q "/etc/kovra/kovrad.conf" ||
  fail "/etc/kovra/kovrad.conf is not a conffile"
mode=$(in_root stat -c '%U:%G %a' /etc/kovra/kovrad.conf)
[ "$mode" = "root:_kovra 640" ] || fail "/etc/kovra/kovrad.conf is $mode"
grep -q '^shutdown-command = systemctl poweroff' "$R/etc/kovra/kovrad.conf" ||
  fail "the configuration names no shutdown command"
as_kovra kovrad --check-config --config /etc/kovra/kovrad.conf >"$WORK/check.out" ||
  fail "kovrad --check-config"
grep -q "^agent = /usr/libexec/kovra/upsagent$" "$WORK/check.out" ||
  { cat "$WORK/check.out"; fail "the installed kovrad does not find its agent"; }
echo "ok: conffile $mode, names the shutdown command, reads without fault"

step "kovrad --version"
in_root kovrad --version | grep -q '^kovrad ' || fail "kovrad --version"
in_root kovrad --version

step "the installed kovrad against the installed simulator"
mkdir -p "$R/tmp/ups"
chown "$(in_root id -u _kovra):$(in_root id -g _kovra)" "$R/tmp/ups"
# The test's own settings: a harmless shutdown command, no NUT listener.
cat >"$R/tmp/ups/kovrad.conf" <<CONF
[kovrad]
shutdown-command = touch /tmp/ups/shutdown-ran
[nut]
listen = off
CONF
mkfifo "$R/tmp/ups/control"
# A subshell that execs, so that $! is the program's own process.
(exec nsenter --net="$NETNS" chroot "$R" env -i PATH=/usr/bin:/bin \
  setpriv --reuid=_kovra --regid=_kovra --init-groups upssim --link /tmp/ups/ttyS0 \
  <"$R/tmp/ups/control" >"$WORK/upssim.out" 2>&1) &
SIM_PID=$!
exec 3>"$R/tmp/ups/control"
for _ in $(seq 1 50); do [ -e "$R/tmp/ups/ttyS0" ] && break; sleep 0.1; done
[ -e "$R/tmp/ups/ttyS0" ] || fail "upssim did not start"
(exec nsenter --net="$NETNS" chroot "$R" env -i \
  PATH=/usr/sbin:/usr/bin:/sbin:/bin UPSAGENT_SERIAL_PATTERN=/tmp/ups/ttyS%d setpriv --reuid=_kovra \
  --regid=_kovra --init-groups kovrad --config /tmp/ups/kovrad.conf \
  >"$WORK/kovrad.err" 2>&1) &
PIDS=($! "$SIM_PID")
echo "set load 42" >&3
detected=no
for _ in $(seq 1 90); do
  if in_root_net kovra status >"$WORK/status.out" 2>&1 &&
      grep -q '^load level : 42 %' "$WORK/status.out"; then
    detected=yes
    break
  fi
  sleep 1
done
if [ $detected != yes ]; then
  cat "$WORK/status.out" "$WORK/kovrad.err" "$WORK/upssim.out" >&2
  fail "kovra status did not show the simulator's load of 42 %"
fi
cat "$WORK/status.out"
db_mode=$(in_root stat -c '%U %a' /var/lib/kovrad/kovrad.db)
[ "$db_mode" = "_kovra 600" ] || fail "kovrad.db is $db_mode"
echo "ok: kovra status shows the simulator's load of 42 %; kovrad.db $db_mode"
# A new database protects the machine with no further step: a utility
# failure with a low battery starts the shutdown at once.
echo "utility fail" >&3
echo "battery low" >&3
for _ in $(seq 1 60); do [ -e "$R/tmp/ups/shutdown-ran" ] && break; sleep 1; done
[ -e "$R/tmp/ups/shutdown-ran" ] ||
  { cat "$WORK/kovrad.err" >&2; fail "no shutdown after a power failure with a low battery"; }
grep -q 'shutdown step 3: telling the UPS' "$WORK/kovrad.err" ||
  { cat "$WORK/kovrad.err" >&2; fail "the UPS was not told before the shutdown"; }
echo "ok: a power failure with a low battery shut the system down (the test's command)"
# kovra logs in to the service before any command, help too.
in_root_net kovra help >"$WORK/help.out" || fail "kovra help"
head -3 "$WORK/help.out"
echo "ok: kovra help"
stop_started
exec 3>&-

step "apt-get purge kovra kovra-sim"
in_root apt-get purge -y -q kovra kovra-sim >"$WORK/purge.log" 2>&1 ||
  { tail -30 "$WORK/purge.log"; fail "purge"; }
for path in /etc/kovra /var/lib/kovrad /usr/sbin/kovrad /usr/libexec/kovra \
    /lib/systemd/system/kovrad.service \
    /etc/systemd/system/multi-user.target.wants/kovrad.service \
    /usr/share/polkit-1/rules.d/60-kovra-shutdown.rules /usr/bin/upssim; do
  [ -e "$R$path" ] || [ -L "$R$path" ] && fail "$path is left after the purge"
done
in_root dpkg-query -W -f='${Status}\n' kovra 2>/dev/null | grep -q installed &&
  fail "kovra is still known to dpkg"
echo "ok: nothing of the packages is left (the system user stays, as Debian does)"

printf '\ndeb-test: 1 passed, 0 failed\n'
