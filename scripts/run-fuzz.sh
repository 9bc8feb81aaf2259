#!/bin/sh
# Runs every fuzz target of a fuzz build for a while.
#   scripts/run-fuzz.sh BUILD_DIR SECONDS [TARGET...]
# Each target starts from its seed corpus (fuzz/corpus/<target>/, copied to
# BUILD_DIR/fuzz-corpus/<target>/, where what it finds to be new is kept
# between runs) with its dictionary fuzz/<target>.dict, if there is one.
# A finding (crash, sanitizer report, broken check, leak, time-out) is
# written to BUILD_DIR/fuzz-findings/ and makes the script fail once every
# target has run. The last lines of each run (executions, coverage) are
# printed.
set -u

build_dir=${1:?build directory}
seconds=${2:?seconds per target}
shift 2
source_dir=$(cd "$(dirname "$0")/.." && pwd)

if [ "$#" -eq 0 ]; then
  for source in "$source_dir"/fuzz/*_fuzz.cc; do
    set -- "$@" "$(basename "$source" .cc)"
  done
fi

findings="$build_dir/fuzz-findings"
mkdir -p "$findings"
failed=""
for target in "$@"; do
  program="$build_dir/fuzz/$target"
  if [ ! -x "$program" ]; then
    echo "fuzz: $program is missing" >&2
    failed="$failed $target"
    continue
  fi
  corpus="$build_dir/fuzz-corpus/$target"
  mkdir -p "$corpus"
  cp "$source_dir/fuzz/corpus/$target"/* "$corpus"/ 2>/dev/null || true
  dict="$source_dir/fuzz/$target.dict"
  dict_option=""
  [ -f "$dict" ] && dict_option="-dict=$dict"
  log="$build_dir/fuzz-$target.log"
  echo "fuzz: $target for $seconds s"
  # shellcheck disable=SC2086
  if "$program" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
      -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$findings/$target-" $dict_option "$corpus" \
      >"$log" 2>&1; then
    grep -E '^#[0-9]+[[:space:]]+DONE|^stat::number_of_executed_units|^stat::average_exec_per_sec' "$log" |
      sed "s/^/  /"
  else
    echo "fuzz: $target FOUND A FAULT (log: $log, input in $findings):" >&2
    grep -E 'ERROR|runtime error|invariant broken|Test unit written' "$log" |
      head -n 20 >&2
    failed="$failed $target"
  fi
done

if [ -n "$failed" ]; then
  echo "fuzz: findings in:$failed" >&2
  exit 1
fi
echo "fuzz: no findings"
