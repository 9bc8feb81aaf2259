#!/bin/sh
# Runs every benchmark program of a build folder: scripts/run-benchmarks.sh
# BUILD_DIR (default: build). Builds nothing; build the folder first.
# Exits non-zero if a benchmark program fails.
set -eu

build_dir=${1:-build}
bench_dir="$build_dir/bench"
if [ ! -d "$bench_dir" ]; then
  echo "no benchmarks in $bench_dir: build with benchmarks enabled first" >&2
  exit 1
fi

status=0
found=0
for program in "$bench_dir"/*_bench; do
  [ -f "$program" ] && [ -x "$program" ] || continue
  found=1
  echo "== $(basename "$program")"
  "$program" || status=1
done
if [ "$found" -eq 0 ]; then
  echo "no benchmark programs in $bench_dir" >&2
  exit 1
fi
exit $status
