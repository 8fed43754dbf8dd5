#!/usr/bin/env bash
# bench.sh BUILD [RUNS]: runs the micro-benchmarks of an optimised build, then
# the whole-process comparisons on synthesised runs kept in RUNS (made when
# absent), and prints one table of figures and ratios.
# Each ratio comes from one side_by_side call: the two commands alternate and
# the medians are compared, since the machine is shared and absolute times of
# separate runs say little. BENCH_ROUNDS sets the rounds (default 5; the gzip
# pair takes at most 3, its rounds being long).
set -euo pipefail
build=${1:-build-bench}
runs=${2:-build/bench-runs}
rounds=${BENCH_ROUNDS:-5}
gzRounds=$((rounds < 3 ? rounds : 3))
tarn=$build/bin/tarn
synth=$build/bin/midas-synth
pair=$build/bench/side_by_side
unset TARN_PLUGIN_PATH  # the build's own modules
for tool in "$tarn" "$synth" "$pair"; do
  [ -x "$tool" ] || { echo "bench: $tool is missing; build with TARN_BUILD_BENCH=ON" >&2; exit 1; }
done

echo "== micro-benchmarks" >&2
shopt -s nullglob
for b in "$build"/bench/*_bench; do
  echo "== $b" >&2
  "$b"
done
sendNs=$("$build/bench/dispatch_bench" --benchmark_filter='BM_SendOutput/1$' --benchmark_format=csv \
  2>/dev/null | awk -F, '$1 ~ /BM_SendOutput\/1"?$/ { printf "%.2f", $4 }')

# Runs: ~1 KiB events, 1 GB and 100 MB of the same events, both also in every
# compressed form, and a run with every module bank.
mkdir -p "$runs"
make_run() {
  local out=$1
  shift
  [ -s "$out" ] && return 0
  echo "== synthesising $out" >&2
  local part
  part="$(dirname "$out")/part-$(basename "$out")"  # the name keeps its ending: .gz decides the format
  "$synth" "$@" "$part"
  mv "$part" "$out"
}
plain=$runs/plain-1g.mid
short=$runs/plain-100m.mid
modules=$runs/modules.mid
make_run "$plain" --events 1000000 --fill 1024
make_run "$short" --events 100000 --fill 1024
for form in gz lz4 zst bz2; do
  make_run "$plain.$form" --events 1000000 --fill 1024
  make_run "$short.$form" --events 100000 --fill 1024
done
make_run "$modules" --events 200000 --modules
tdc=$runs/tdc-400m.mid
make_run "$tdc" --events 400000 --fill 1024

printf 'node in RunFile\nstart in\n' >"$runs/alone.tarn"
printf 'node in RunFile\nnode unpack CompositeUnpacker\nconnect in.event unpack.event\nstart in\n' \
  >"$runs/composite.tarn"
alone=(run "$runs/alone.tarn" --set)
composite=(run "$runs/composite.tarn" --set)
# The TDC words of each event (bank FILL) exported to HDF5.
printf '%s\n' 'node in RunFile' 'node bt BankTranslator' 'node w Hdf5Writer' 'set bt.banks FILL' \
  'set bt.FILL Tdc' 'connect in.event bt.mevent' 'connect bt.fevent w.fevent' 'start in' >"$runs/hdf5.tarn"
# export_h5 RUN NAME COMPRESSION: the tarn arguments writing RUN to RUNS/NAME.h5.
export_h5() { h5=(run "$runs/hdf5.tarn" --no-progress --set in.file="$1" --set w.file="$runs/$2.h5" --set w.compression="$3"); }

bytes() { stat -L -c %s "$1"; }
echo "== whole-process comparisons ($rounds rounds)" >&2
read -r ddS tarnS ddKiB tarnKiB ddCpu tarnCpu < <("$pair" "$rounds" \
  -- dd if="$plain" of=/dev/null bs=1M status=none -- "$tarn" "${alone[@]}" in.file="$plain")
read -r gzS tarnGzS _ _ gzCpu tarnGzCpu < <("$pair" "$gzRounds" \
  -- gzip -dc "$plain.gz" -- env TARN_GZIP_INFLATE=zlib "$tarn" "${alone[@]}" in.file="$plain.gz")
read -r modS compS _ _ modCpu compCpu < <("$pair" "$rounds" \
  -- "$tarn" "${alone[@]}" in.file="$modules" -- "$tarn" "${composite[@]}" in.file="$modules")
read -r _ _ longKiB shortKiB _ _ < <("$pair" "$rounds" \
  -- "$tarn" "${alone[@]}" in.file="$plain" -- "$tarn" "${alone[@]}" in.file="$short")
export_h5 "$tdc" fast fast
read -r igzS h5S _ _ igzCpu h5Cpu < <("$pair" "$rounds" -- igzip -1 -c "$tdc" -- "$tarn" "${h5[@]}")
export_h5 "$tdc" zlib4 zlib4  # the writer's compression before chunks were compressed by us
"$tarn" "${h5[@]}" >/dev/null
fastBytes=$(bytes "$runs/fast.h5")
zlib4Bytes=$(bytes "$runs/zlib4.h5")
export_h5 "$plain" long fast
long=("${h5[@]}")
export_h5 "$short" short fast
read -r _ _ h5LongKiB h5ShortKiB _ _ < <("$pair" "$gzRounds" -- "$tarn" "${long[@]}" -- "$tarn" "${h5[@]}")
rm -f "$runs"/{fast,zlib4,long,short}.h5

awk -v pb="$(bytes "$plain")" -v mb="$(bytes "$modules")" \
  -v ddS="$ddS" -v tarnS="$tarnS" -v ddCpu="$ddCpu" -v tarnCpu="$tarnCpu" \
  -v gzS="$gzS" -v tarnGzS="$tarnGzS" -v gzCpu="$gzCpu" -v tarnGzCpu="$tarnGzCpu" \
  -v modS="$modS" -v compS="$compS" -v modCpu="$modCpu" -v compCpu="$compCpu" \
  -v longKiB="$longKiB" -v shortKiB="$shortKiB" -v sendNs="$sendNs" -v rounds="$rounds" \
  -v tb="$(bytes "$tdc")" -v igzS="$igzS" -v h5S="$h5S" -v igzCpu="$igzCpu" -v h5Cpu="$h5Cpu" \
  -v fastBytes="$fastBytes" -v zlib4Bytes="$zlib4Bytes" \
  -v h5LongKiB="$h5LongKiB" -v h5ShortKiB="$h5ShortKiB" '
function mbs(b, s) { return sprintf("%.0f MB/s", b / s / 1e6) }
function verdict(ok) { return ok ? "met" : "NOT MET" }
function row(what, base, ours, ratio, cpu, target, ok) {
  printf "%-50s %-14s %-14s %-8s %-8s %-22s %s\n", what, base, ours, ratio, cpu, target, verdict(ok)
}
BEGIN {
  printf "\nWhole process, page cache warm, medians of %d rounds taken in turn. Ratio: throughput of B\n", rounds
  printf "over A (A time / B time); CPU: the same from user+system time, steadier on a busy machine.\n\n"
  printf "%-50s %-14s %-14s %-8s %-8s %-22s %s\n", "measured (A vs B)", "A", "B", "ratio", "CPU", "target", ""
  r = ddS / tarnS
  row(sprintf("plain run %.2f GB: dd bs=1M vs RunFile", pb / 1e9), mbs(pb, ddS), mbs(pb, tarnS),
      sprintf("%.2f", r), sprintf("%.2f", ddCpu / tarnCpu), ">= 0.5", r >= 0.5)
  r = gzS / tarnGzS
  row("same run gzip: gzip -dc vs RunFile through zlib", mbs(pb, gzS), mbs(pb, tarnGzS), sprintf("%.2f", r),
      sprintf("%.2f", gzCpu / tarnGzCpu), ">= 1.0", r >= 1.0)
  r = modS / compS
  row(sprintf("all banks %.0f MB: RunFile vs RunFile->Composite", mb / 1e6), mbs(mb, modS), mbs(mb, compS),
      sprintf("%.2f", r), sprintf("%.2f", modCpu / compCpu), ">= 0.5", r >= 0.5)
  d = longKiB - shortKiB
  row("peak resident of tarn: 100 MB run vs 1 GB run", shortKiB " KiB", longKiB " KiB", sprintf("%+d KiB", d), "",
      "< 1024 KiB, < 32 MiB", d < 1024 && d > -1024 && longKiB < 32768 && shortKiB < 32768)
  r = igzS / h5S
  row(sprintf("TDC run %.0f MB: igzip -1 -c vs RunFile->Bank->HDF5", tb / 1e6), mbs(tb, igzS), mbs(tb, h5S),
      sprintf("%.2f", r), sprintf("%.2f", igzCpu / h5Cpu), ">= 1.0", r >= 1.0)
  r = fastBytes / zlib4Bytes
  row("HDF5 file size: zlib level 4 vs fast", sprintf("%.1f MB", zlib4Bytes / 1e6),
      sprintf("%.1f MB", fastBytes / 1e6), sprintf("%.3f", r), "", "<= 1.10", r <= 1.10)
  d = h5LongKiB - h5ShortKiB
  row("peak resident of HDF5 export: 100 MB vs 1 GB run", h5ShortKiB " KiB", h5LongKiB " KiB",
      sprintf("%+d KiB", d), "", "< 2048 KiB, < 64 MiB",
      d < 2048 && d > -2048 && h5LongKiB < 65536 && h5ShortKiB < 65536)
  row("SendOutput to one receiver (CPU time per call)", "", sendNs " ns", "", "", "< 10 ns", sendNs != "" && sendNs + 0 < 10)
}'

# Each compressed form: RunFile alone against the fastest decoder of the form
# in Debian, and RunFile's peak memory on the 1 GB run against the 100 MB one.
# bzip2 decodes at a few tens of MB/s: its pair reads the 100 MB run.
form_rows() {
  local form=$1 tool=$2 run=$3 rounds=$4
  local toolS tarnS toolCpu tarnCpu longKiB shortKiB
  read -r toolS tarnS _ _ toolCpu tarnCpu < <("$pair" "$rounds" \
    -- "$tool" -dc "$run" -- "$tarn" "${alone[@]}" in.file="$run")
  read -r _ _ longKiB shortKiB _ _ < <("$pair" 1 \
    -- "$tarn" "${alone[@]}" in.file="$plain.$form" -- "$tarn" "${alone[@]}" in.file="$short.$form")
  awk -v form="$form" -v tool="$tool" -v b="$(bytes "${run%.*}")" -v toolS="$toolS" -v tarnS="$tarnS" \
    -v toolCpu="$toolCpu" -v tarnCpu="$tarnCpu" -v longKiB="$longKiB" -v shortKiB="$shortKiB" '
  function row(what, base, ours, ratio, cpu, target, ok) {
    printf "%-50s %-14s %-14s %-8s %-8s %-22s %s\n", what, base, ours, ratio, cpu, target, ok ? "met" : "NOT MET"
  }
  BEGIN {
    r = toolS / tarnS
    row(sprintf("%s run %.2f GB: %s -dc vs RunFile", form, b / 1e9, tool), sprintf("%.0f MB/s", b / toolS / 1e6),
        sprintf("%.0f MB/s", b / tarnS / 1e6), sprintf("%.2f", r), sprintf("%.2f", toolCpu / tarnCpu), ">= 1.0", r >= 1.0)
    d = longKiB - shortKiB
    row("  peak resident: 100 MB run vs 1 GB run", shortKiB " KiB", longKiB " KiB", sprintf("%+d KiB", d), "",
        "< 1024 KiB, < 32 MiB", d < 1024 && d > -1024 && longKiB < 32768 && shortKiB < 32768)
  }'
}
form_rows gz igzip "$plain.gz" "$gzRounds"
form_rows lz4 lz4 "$plain.lz4" "$rounds"
form_rows zst zstd "$plain.zst" "$rounds"
form_rows bz2 bzip2 "$short.bz2" "$gzRounds"

# The Python package, where the build made it: its rows on the same TDC run.
if [ -d "$build/python/tarn" ] && [ -x /usr/bin/python3 ]; then
  /usr/bin/python3 "$(dirname "$0")/../bench/python_bench.py" "$build" "$runs"
fi

# Compressed runs decoded on a second core, ahead of the graph: the histogram
# graph on a 1 M-event run of module banks in every form.
echo "== decoding ahead of the graph" >&2
bash "$(dirname "$0")/bench-decode-thread.sh" "$build" "$runs"
