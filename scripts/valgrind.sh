#!/usr/bin/env bash
# Runs the demo and every example graph under valgrind's memcheck: any invalid
# access or definitely lost block fails. Graphs run in a scratch directory (some
# write files there) on the sample runs, made when absent.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
root=$(pwd)
mkdir -p "$build/sample"
sample="$build/sample/run00001.mid.gz"
vf48="$build/sample/vf48-run00001.mid.gz"
[ -f "$sample" ] || "$build/bin/midas-synth" --modules --events 20 "$sample"
[ -f "$vf48" ] || "$build/bin/midas-synth" --vf48 4 --events 20 "$vf48"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
count=0
for graph in "$root"/examples/*.tarn; do
  args=(run "$graph" --no-progress)
  if grep -q '^node in RunFile' "$graph"; then
    if grep -q 'vf48-run' "$graph"; then args+=(--set "in.file=$vf48"); else args+=(--set "in.file=$sample"); fi
  fi
  name=$(basename "$graph")
  count=$((count + 1))
  if (cd "$work" && valgrind -q --error-exitcode=99 --leak-check=full --show-leak-kinds=definite \
        --suppressions="$root/scripts/valgrind.supp" \
        --errors-for-leak-kinds=definite --track-origins=yes "$build/bin/tarn" "${args[@]}" \
        >/dev/null 2>"$work/$name.log"); then
    echo "valgrind: $name clean"
  else
    echo "valgrind: $name FAILED"
    cat "$work/$name.log"
    failed=$((failed + 1))
  fi
done
echo "valgrind: $((count - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
