#!/usr/bin/env bash
# Installs the live page's drawing library (uPlot) from the npm registry into
# DEST/node_modules, as locked in SRC/package-lock.json; with "all", also the
# browser driver of the page's test (playwright-core). Without npm, or without
# the registry, it says so and leaves the build to go on without the library.
# usage: web-deps.sh SRC DEST [page|all]
set -uo pipefail
src=$1 dest=$2 mode=${3:-page}
mkdir -p "$dest"
cp "$src/package.json" "$src/package-lock.json" "$dest/"
stamp="$dest/installed-$mode"
rm -f "$stamp"
if ! command -v npm >/dev/null; then
  echo "web-deps: npm not found; the live page is built without its drawing library" >&2
  exit 0
fi
flags=(--no-audit --no-fund --loglevel=error --fetch-retries=1 --fetch-timeout=60000)
[ "$mode" = all ] || flags+=(--omit=dev)
cd "$dest"
if timeout 600 npm ci "${flags[@]}" >&2; then
  touch "$stamp"
else
  echo "web-deps: npm ci failed; the live page is built without its drawing library" >&2
fi
exit 0
