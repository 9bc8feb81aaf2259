#!/usr/bin/env bash
# Runs the whole system against a simulated UPS: upssim (a P99 unit on a
# pseudo-terminal), kovrad with its state in a temporary folder and the agent
# pointed at the simulator, and kovra reading through kovrad. Cleans up after
# itself, whatever happens.
#
# usage: scripts/demo.sh [BUILD_DIR]
set -euo pipefail

BUILD_DIR=${1:-build}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
case "$BUILD_DIR" in /*) ;; *) BUILD_DIR="$ROOT/$BUILD_DIR" ;; esac
PORT=8855

UPSSIM="$BUILD_DIR/sim/upssim"
UPSAGENT="$BUILD_DIR/agent/upsagent"
KOVRAD="$BUILD_DIR/service/kovrad"
KOVRA="$BUILD_DIR/tool/kovra"

say() { printf '\n== %s\n' "$*"; }

# Build whatever is missing.
missing=()
for target in upssim upsagent kovrad kovra; do
  case $target in
    upssim) program=$UPSSIM ;; upsagent) program=$UPSAGENT ;;
    kovrad) program=$KOVRAD ;; kovra) program=$KOVRA ;;
  esac
  [ -x "$program" ] || missing+=("$target")
done
if [ ${#missing[@]} -gt 0 ]; then
  say "building ${missing[*]}"
  [ -f "$BUILD_DIR/CMakeCache.txt" ] || cmake -S "$ROOT" -B "$BUILD_DIR"
  for target in "${missing[@]}"; do
    cmake --build "$BUILD_DIR" --target "$target" -j "$(nproc 2>/dev/null || echo 2)"
  done
fi

# kovra always talks to port 8855, so the demo needs it free.
if (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null; then
  echo "demo: port $PORT on 127.0.0.1 is taken by another program;" >&2
  echo "demo: stop it (for example: sudo systemctl stop kovrad) and try again." >&2
  exit 1
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/kovra-demo.XXXXXX")
SIM_PID=""
KOVRAD_PID=""
cleanup() {
  set +e
  if [ -n "$KOVRAD_PID" ] && kill -0 "$KOVRAD_PID" 2>/dev/null; then
    kill -TERM "$KOVRAD_PID"
    wait "$KOVRAD_PID" 2>/dev/null
  fi
  if [ -n "$SIM_PID" ] && kill -0 "$SIM_PID" 2>/dev/null; then
    echo quit >&3 2>/dev/null
    exec 3>&- 2>/dev/null
    for _ in $(seq 1 50); do kill -0 "$SIM_PID" 2>/dev/null || break; sleep 0.1; done
    kill -TERM "$SIM_PID" 2>/dev/null
    wait "$SIM_PID" 2>/dev/null
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

say "starting the simulated UPS (upssim, P99 unit)"
mkfifo "$WORK/sim-control"
"$UPSSIM" --link "$WORK/ttyS0" <"$WORK/sim-control" >"$WORK/upssim.out" \
  2>"$WORK/upssim.err" &
SIM_PID=$!
exec 3>"$WORK/sim-control"
for _ in $(seq 1 50); do [ -e "$WORK/ttyS0" ] && break; sleep 0.1; done
if [ ! -e "$WORK/ttyS0" ]; then
  echo "demo: upssim did not start:" >&2
  cat "$WORK/upssim.err" >&2
  exit 1
fi
cat "$WORK/upssim.err"

say "starting kovrad (state in $WORK/state)"
# The demo's own configuration: no shutdown command, so a simulated power
# failure only logs what would happen, and no NUT listener. An installed
# /etc/kovra/kovrad.conf is never read.
cat >"$WORK/kovrad.conf" <<EOF
[kovrad]
listen = 127.0.0.1:$PORT
state-dir = $WORK/state
agent = $UPSAGENT
shutdown-command =
[nut]
listen = off
EOF
UPSAGENT_SERIAL_PATTERN="$WORK/ttyS%d" "$KOVRAD" --config "$WORK/kovrad.conf" \
  2>"$WORK/kovrad.err" &
KOVRAD_PID=$!

say "waiting until the unit is detected"
detected=no
for _ in $(seq 1 60); do
  if ! kill -0 "$KOVRAD_PID" 2>/dev/null; then
    echo "demo: kovrad stopped:" >&2
    cat "$WORK/kovrad.err" >&2
    exit 1
  fi
  if "$KOVRA" status -utility_state 2>/dev/null | grep -q '^utility state'; then
    detected=yes
    break
  fi
  sleep 1
done
if [ $detected != yes ]; then
  echo "demo: the unit was not detected within 60 s; kovrad said:" >&2
  cat "$WORK/kovrad.err" >&2
  exit 1
fi

say "kovra status"
"$KOVRA" status
say "kovra information"
"$KOVRA" information

say "the simulator fails the utility"
echo "utility fail" >&3
for _ in $(seq 1 20); do
  "$KOVRA" status -utility_state | grep -q 'fail' && break
  sleep 0.5
done
say "kovra status"
"$KOVRA" status

say "kovra log -event (the power failure counts once it held for about 5 s)"
for _ in $(seq 1 30); do
  "$KOVRA" log -event | grep -q 'power failure' && break
  sleep 0.5
done
"$KOVRA" log -event

say "kovrad's diagnostics"
cat "$WORK/kovrad.err"
say "done; stopping everything"
