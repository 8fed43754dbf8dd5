#!/usr/bin/env bash
# batch-bench.sh [BUILD] [RUNS]: what `tarn batch` gains on this machine's cores
# and what it costs per run.
#  1. 8 gzip runs of ~100 MB (RUN_MB) through an unpack-and-histogram graph,
#     all with -j 1, then with -j 2: the wall-time ratio (target >= 1.8 on 2 cores).
#  2. 100 empty runs (EMPTY_RUNS) with -j 1 against a shell loop of `tarn run`
#     over the same runs, each run's stdout and stderr in a directory of its
#     own as the batch keeps them: the batch's own time per run (target < 5 ms).
# PARTS="gz empty" chooses the parts (default both).
# The two sides of each pair alternate for ROUNDS rounds (default 3) and the
# medians are compared, since the machine is shared.
set -euo pipefail
build=${1:-build}
runs=${2:-$build/batch-bench-runs}
rounds=${ROUNDS:-3}
parts=${PARTS:-gz empty}
runMb=${RUN_MB:-100}
emptyRuns=${EMPTY_RUNS:-100}
tarn=$(realpath "$build/bin/tarn")
synth=$build/bin/midas-synth
[ -x "$tarn" ] && [ -x "$synth" ] || { echo "batch-bench: build first (make build)" >&2; exit 1; }
unset TARN_PLUGIN_PATH
mkdir -p "$runs/gz" "$runs/empty"
work=$(mktemp -d /tmp/tarn-batch-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

# ~4.3 KB of gzip per event of 8 KiB fill: one run made, copied seven times.
events=$((runMb * 1000000 / 4350))
if [[ $parts == *gz* ]] && [ ! -s "$runs/gz/run00008.mid.gz" ]; then
  echo "== synthesising 8 gzip runs of $events events" >&2
  "$synth" --modules --fill 8192 --events "$events" "$runs/gz/run00001.mid.gz"
  for k in 2 3 4 5 6 7 8; do cp "$runs/gz/run00001.mid.gz" "$runs/gz/run0000$k.mid.gz"; done
fi
for k in $(seq -w 1 "$emptyRuns"); do : >"$runs/empty/e$k.mid"; done

cat >"$work/spectra.tarn" <<'GRAPH'
node in RunFile
node unpack CompositeUnpacker
node hist Histogrammer
set hist.properties TDCChannel TDCValue ADCChannel ADCValue
set hist.bins TDCChannel:16:0:16 TDCValue:128:-32768:32768 ADCValue:128:0:4096
connect in.event unpack.event
connect unpack.fevent hist.fevent
connect in.eor hist.eor
start in
GRAPH
printf 'node in RunFile\nstart in\n' >"$work/empty.tarn"

seconds() {  # wall seconds of a command, its output discarded
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || true
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }' 
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

spectra() {
  "$tarn" batch "$work/spectra.tarn" "$runs"/gz/*.mid.gz -j "$1" --force --no-progress \
    --out "$work/out-j$1" -s in.file={run} -s hist.prefix={out}/{name}
}
# The machine's own ceiling: two decompressions one after the other, then together.
inflate() { gzip -dc "$runs/gz/run00001.mid.gz" >/dev/null; }
inflateSerial() { inflate; inflate; }
inflateParallel() { inflate & inflate; wait; }
emptyBatch() {
  "$tarn" batch "$work/empty.tarn" "$runs"/empty/*.mid -j 1 --force --no-progress \
    --out "$work/out-empty" -s in.file={run}
}
emptyLoop() {
  local f d
  for f in "$runs"/empty/*.mid; do
    d=$work/out-loop/$(basename "$f" .mid)
    mkdir -p "$d"
    "$tarn" run --no-progress "$work/empty.tarn" -s "in.file=$f" >"$d/stdout" 2>"$d/stderr"
  done
}

: "${load:=$(cut -d' ' -f1-3 /proc/loadavg)}"
: >"$work/j1"; : >"$work/j2"; : >"$work/c1"; : >"$work/c2"; : >"$work/batch"; : >"$work/loop"
for r in $(seq 1 "$rounds"); do
  echo "== round $r of $rounds" >&2
  if [[ $parts == *gz* ]]; then
    seconds spectra 1 >>"$work/j1"
    seconds spectra 2 >>"$work/j2"
    seconds inflateSerial >>"$work/c1"
    seconds inflateParallel >>"$work/c2"
  fi
  if [[ $parts == *empty* ]]; then
    rm -rf "$work/out-empty" "$work/out-loop"  # both sides write new files
    seconds emptyBatch >>"$work/batch"
    seconds emptyLoop >>"$work/loop"
  fi
done
if [[ $parts == *gz* ]]; then
  j1=$(median <"$work/j1"); j2=$(median <"$work/j2")
  grep -q '"state":"done"' "$work/out-j2/run00008/status.json" || { echo "batch-bench: the runs failed" >&2; exit 1; }
  # Runs at once: the runs' own wall seconds summed over the batch's (last round).
  busy=$(cat "$work"/out-j2/*/status.json | grep -o '"seconds":[0-9.e+-]*' | cut -d: -f2 |
    awk -v w="$(tail -1 "$work/j2")" '{ s += $1 } END { print s / w }')
  printf '%s runs at once on average with -j 2; load average before: %s\n' "$busy" "$load"
  c1=$(median <"$work/c1"); c2=$(median <"$work/c2")
  printf 'ceiling of this machine now: two gzip -dc one after the other %.2f s, together %.2f s, ratio %.2f\n' \
    "$c1" "$c2" "$(awk -v a="$c1" -v b="$c2" 'BEGIN { print a / b }')"
  printf '8 gzip runs of %s MB:  -j 1 %.2f s, -j 2 %.2f s, ratio %.2f (target >= 1.8)\n' \
  "$(( $(stat -c %s "$runs/gz/run00001.mid.gz") / 1000000 ))" "$j1" "$j2" "$(awk -v a="$j1" -v b="$j2" 'BEGIN { print a / b }')"
fi
if [[ $parts == *empty* ]]; then
  b=$(median <"$work/batch"); l=$(median <"$work/loop")
  printf '%s empty runs:  tarn batch -j 1 %.3f s, shell loop of tarn run %.3f s, overhead %.2f ms per run (target < 5)\n' \
  "$emptyRuns" "$b" "$l" "$(awk -v a="$b" -v b="$l" -v n="$emptyRuns" 'BEGIN { print (a - b) * 1000 / n }')"
fi
