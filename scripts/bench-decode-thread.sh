#!/usr/bin/env bash
# bench-decode-thread.sh BUILD RUNS [EVENTS] [BASELINE_TARN]: compressed runs
# decoded on a thread of their own, ahead of the graph. On a run of module
# banks (EVENTS events, default 1000000) in every compressed form:
#  - the histogram graph of examples/histograms.tarn without its HDF5 sink,
#    against RunFile alone on that form and against the graph on the plain run
#    (target: <= 1.15 x the larger of the two);
#  - RunFile alone against the form's own decoder (target: >= 1.0);
#  - with BASELINE_TARN (a build without the thread): RunFile alone pinned to
#    one core against it (within 5 %), and the graph's peak memory against it
#    (< 16 MiB more).
# Each pair is one side_by_side call (the two commands in turn, medians);
# BENCH_ROUNDS sets the rounds (default 3).
set -euo pipefail
build=${1:-build-bench}
runs=${2:-build/bench-runs}
events=${3:-1000000}
base=${4:-}
rounds=${BENCH_ROUNDS:-3}
tarn=$build/bin/tarn
synth=$build/bin/midas-synth
pair=$build/bench/side_by_side
unset TARN_PLUGIN_PATH TARN_DECODE_THREAD
mkdir -p "$runs/spectra"
run=$runs/modules-$events.mid
for ending in "" .gz .lz4 .zst .bz2; do
  [ -s "$run$ending" ] && continue
  echo "== synthesising $run$ending" >&2
  "$synth" --modules --events "$events" "$runs/part$ending" >/dev/null
  mv "$runs/part$ending" "$run$ending"
done
graph=$runs/histograms-no-h5.tarn
grep -v -e '^node h5 ' -e '^set h5\.' -e ' h5\.' "$(dirname "$0")/../examples/histograms.tarn" >"$graph"
printf 'node in RunFile\nstart in\n' >"$runs/alone.tarn"
# the arguments of tarn running GRAPH over RUN
args() { echo run "$1" --no-progress --set "in.file=$2" --set "hist.prefix=$runs/spectra/h"; }
alone() { echo run "$runs/alone.tarn" --no-progress --set "in.file=$1"; }

row() { printf '%-58s %-10s %-10s %-8s %-8s %-12s %s\n' "$@"; }
row "measured (A vs B), medians of $rounds rounds" "A" "B" "ratio" "CPU" "target" ""
for form in gz lz4 zst bz2; do
  tool=$form
  case $form in gz) tool=igzip ;; zst) tool=zstd ;; bz2) tool=bzip2 ;; esac
  # The three measured in turn, so that they share the machine's load.
  read -r aloneS plainS graphS _ _ _ _ _ _ < <("$pair" "$rounds" \
    -- "$tarn" $(alone "$run.$form") -- "$tarn" $(args "$graph" "$run") -- "$tarn" $(args "$graph" "$run.$form"))
  awk -v f="$form" -v a="$aloneS" -v g="$graphS" -v p="$plainS" 'BEGIN {
    m = a > p ? a : p; r = g / m
    printf "%-58s %-10s %-10s %-8s %-8s %-12s %s\n", sprintf("%s: max(RunFile alone %.2fs, graph plain %.2fs) vs graph", f, a, p),
      sprintf("%.2fs", m), sprintf("%.2fs", g), sprintf("%.2f", r), "", "<= 1.15", (r <= 1.15 ? "met" : "NOT MET") }'
  read -r toolS tarnS _ _ toolCpu tarnCpu < <("$pair" "$rounds" -- "$tool" -dc "$run.$form" -- "$tarn" $(alone "$run.$form"))
  awk -v f="$form" -v tool="$tool" -v t="$toolS" -v a="$tarnS" -v tc="$toolCpu" -v ac="$tarnCpu" 'BEGIN {
    r = t / a
    printf "%-58s %-10s %-10s %-8s %-8s %-12s %s\n", f ": " tool " -dc vs RunFile alone", sprintf("%.2fs", t),
      sprintf("%.2fs", a), sprintf("%.2f", r), sprintf("%.2f", tc / ac), ">= 1.0", (r >= 1.0 ? "met" : "NOT MET") }'
  [ -n "$base" ] || continue
  read -r oldS newS _ _ oldCpu newCpu < <("$pair" "$rounds" \
    -- taskset -c 0 "$base" $(alone "$run.$form") -- taskset -c 0 "$tarn" $(alone "$run.$form"))
  awk -v f="$form" -v o="$oldS" -v n="$newS" -v oc="$oldCpu" -v nc="$newCpu" 'BEGIN {
    r = o / n
    printf "%-58s %-10s %-10s %-8s %-8s %-12s %s\n", f ": one core, RunFile alone, before vs now", sprintf("%.2fs", o),
      sprintf("%.2fs", n), sprintf("%.2f", r), sprintf("%.2f", oc / nc), ">= 0.95", (r >= 0.95 ? "met" : "NOT MET") }'
  read -r oldS newS oldKiB newKiB _ _ < <("$pair" "$rounds" \
    -- "$base" $(args "$graph" "$run.$form") -- "$tarn" $(args "$graph" "$run.$form"))
  awk -v f="$form" -v o="$oldS" -v n="$newS" -v ok="$oldKiB" -v nk="$newKiB" 'BEGIN {
    d = nk - ok
    printf "%-58s %-10s %-10s %-8s %-8s %-12s %s\n", f ": graph before vs now (time; peak resident below)", sprintf("%.2fs", o),
      sprintf("%.2fs", n), sprintf("%.2f", o / n), "", "", ""
    printf "%-58s %-10s %-10s %-8s %-8s %-12s %s\n", f ": graph peak resident, before vs now", ok " KiB", nk " KiB",
      sprintf("%+d KiB", d), "", "< 16384 KiB", (d < 16384 ? "met" : "NOT MET") }'
done
