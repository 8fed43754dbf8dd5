#!/usr/bin/env bash
# Runs one libFuzzer target for FUZZ_SECONDS (default 60) from its synthesised
# seeds and the corpus of earlier runs in WORKDIR; prints executions per second
# and coverage. Fails on any crash, hang, leak or sanitizer report, keeping the
# input in WORKDIR/crash-*.
set -euo pipefail
target=$1
work=$2
seconds=${FUZZ_SECONDS:-60}
name=$(basename "$target")
mkdir -p "$work/corpus" "$work/seeds"
TARN_FUZZ_WRITE_SEEDS="$work/seeds" "$target" >/dev/null 2>&1
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
"$target" "$work/corpus" "$work/seeds" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 \
  -max_len=1100000 -print_final_stats=1 -artifact_prefix="$work/" >"$work/log" 2>&1 || status=$?
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")
rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/log")
cov=$(grep -E '#[0-9]+.*cov: [0-9]+ ft: [0-9]+' "$work/log" | tail -1 | sed -E 's/.*(cov: [0-9]+ ft: [0-9]+).*/\1/')
echo "$name: ${runs:-?} runs in ${seconds} s, ${rate:-?} exec/s, ${cov:-no coverage line}"
if [ "$status" -ne 0 ]; then
  echo "$name: FAILED (status $status); the end of $work/log:"
  tail -n 60 "$work/log"
  exit 1
fi
