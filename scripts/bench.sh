#!/usr/bin/env bash
# Runs every benchmark program the build made.
set -euo pipefail
build=${1:-build}
shopt -s nullglob
benches=("$build"/bench/*_bench)
if [ ${#benches[@]} -eq 0 ]; then
  echo "No benchmarks built yet." >&2
  exit 0
fi
for b in "${benches[@]}"; do
  echo "== $b" >&2
  "$b"
done
