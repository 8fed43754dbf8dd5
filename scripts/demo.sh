#!/usr/bin/env bash
# Makes the sample run when it is absent, then runs the bundled example graph on it.
set -euo pipefail
build=${1:-build}
graph=${DEMO_GRAPH:-examples/demo.tarn}
sample="$build/sample/run00001.mid.gz"
if [ ! -f "$sample" ]; then
  mkdir -p "$(dirname "$sample")"
  "$build/bin/midas-synth" --modules --events 20 "$sample"
  echo "== made the sample run $sample" >&2
fi
echo "== $build/bin/tarn run $graph --set in.file=$sample" >&2
"$build/bin/tarn" run "$graph" --set "in.file=$sample"
