#!/bin/sh
# Runs the UPS simulator and the agent together for trying the agent by hand.
#
#   scripts/sim-agent.sh [BUILD_DIR] [upssim options...]
#
# upssim plays a UPS unit on a pseudo-terminal linked as DIR/ttyS0 in a fresh
# temporary folder; upsagent runs in the foreground with
# UPSAGENT_SERIAL_PATTERN=DIR/ttyS%d, so what you type are pipe commands
# (S0, S7, R12, W0 140, C0 10, ...) and what you see are its replies. Control
# the simulated unit from another terminal through DIR/control, for example
#   echo "utility fail" > DIR/control
# and read its answers in DIR/upssim.out and the wire in DIR/wire.log.
# End with Ctrl-D (or Ctrl-C); the folder is removed.
set -eu

build=build
if [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then
  build=$1
  shift
fi
upssim=$build/sim/upssim
upsagent=$build/agent/upsagent
for program in "$upssim" "$upsagent"; do
  if [ ! -x "$program" ]; then
    echo "sim-agent: $program not found; build first (make)" >&2
    exit 1
  fi
done

dir=$(mktemp -d "${TMPDIR:-/tmp}/kovra-sim.XXXXXX")
sim_pid=
cleanup() {
  exec 3>&- 2>/dev/null || true
  if [ -n "$sim_pid" ]; then
    # End of its control input ends the simulator; a signal if it lingers.
    tries=0
    while kill -0 "$sim_pid" 2>/dev/null && [ $tries -lt 20 ]; do
      sleep 0.1
      tries=$((tries + 1))
    done
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkfifo "$dir/control"
"$upssim" --link "$dir/ttyS0" --log "$dir/wire.log" "$@" \
  <"$dir/control" >"$dir/upssim.out" 2>"$dir/upssim.err" &
sim_pid=$!
# Hold the control input open, so single echo commands do not end it.
exec 3>"$dir/control"

tries=0
while [ ! -L "$dir/ttyS0" ]; do
  if ! kill -0 "$sim_pid" 2>/dev/null || [ $tries -ge 50 ]; then
    echo "sim-agent: upssim did not start:" >&2
    cat "$dir/upssim.err" >&2
    exit 1
  fi
  sleep 0.1
  tries=$((tries + 1))
done

cat >&2 <<INFO
upssim is running on $dir/ttyS0
  control it:   echo "utility fail" > $dir/control   (answers in $dir/upssim.out)
  watch wire:   tail -f $dir/wire.log
upsagent is starting (detection takes a few seconds); type pipe commands,
for example S0 (input voltage), S2 (capacity), S7 (utility failure),
R12 (model), W0 140, C0 10; Ctrl-D ends.
INFO

UPSAGENT_SERIAL_PATTERN="$dir/ttyS%d" "$upsagent" 1 0
