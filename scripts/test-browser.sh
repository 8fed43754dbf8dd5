#!/usr/bin/env bash
# `make test-browser`: the live page of `tarn run --serve` in headless Chromium
# (Debian's), driven by playwright-core from npm. Skipped, with a message, where
# chromium, node or npm are missing. The screenshot lands in BUILD/browser/.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
skip() { echo "test-browser: SKIPPED: $1" >&2; exit 0; }
[ -x /usr/bin/chromium ] || skip "no /usr/bin/chromium (Debian: apt-get install chromium)"
command -v node >/dev/null || skip "no node"
command -v npm >/dev/null || skip "no npm"
bash "$root/scripts/web-deps.sh" "$root/host/serve/web" "$build/web" all
[ -f "$build/web/installed-all" ] || skip "npm could not install playwright-core"
node "$root/tests/browser/live_page.cjs" "$build/bin/tarn" "$build/web" "$build/browser/live-page.png"
