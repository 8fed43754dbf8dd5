#!/usr/bin/env bash
# Runs the bundled example graph with the freshly built runner.
set -euo pipefail
build=${1:-build}
graph=examples/generator-to-printer.tarn
echo "== $build/bin/tarn run $graph" >&2
"$build/bin/tarn" run "$graph"
