#!/usr/bin/env bash
# Makes the sample runs when they are absent, runs the bundled example graph on
# the first, then the spectra analysis on the second: PNG and CSV spectra and
# an HDF5 file of every unpacked property in $build/spectra.
set -euo pipefail
build=${1:-build}
graph=${DEMO_GRAPH:-examples/demo.tarn}
sample="$build/sample/run00001.mid.gz"
spectra_sample="$build/sample/run00002.mid.gz"
make_sample() {  # FILE EVENTS
  if [ ! -f "$1" ]; then
    mkdir -p "$(dirname "$1")"
    "$build/bin/midas-synth" --modules --events "$2" "$1"
    echo "== made the sample run $1" >&2
  fi
}
make_sample "$sample" 20
echo "== $build/bin/tarn run $graph --set in.file=$sample" >&2
"$build/bin/tarn" run "$graph" --set "in.file=$sample"

make_sample "$spectra_sample" 5000
out="$build/spectra"
mkdir -p "$out"
echo "== $build/bin/tarn run examples/histograms.tarn --set in.file=$spectra_sample (spectra in $out)" >&2
"$build/bin/tarn" run examples/histograms.tarn --no-progress --set "in.file=$spectra_sample" \
  --set "hist.prefix=$out/run00002" --set "h5.file=$out/run00002.h5" | grep '^hist: '  # the unpacker's notices left out
