#!/usr/bin/env bash
# Makes the man pages from the programs' own help texts: tarn(1), one page
# tarn-SUB(1) for every subcommand the usage lines of `tarn --help` show, and
# midas-synth(1), gzipped as Debian installs them. A subcommand without a
# --help of its own gets its usage lines, and the one `tarn GRAPH` stands for
# ("[run]") the whole of `tarn --help`.
# usage: man-pages.sh TARN MIDAS_SYNTH VERSION OUTDIR
set -euo pipefail
tarn=$1 synth=$2 version=$3 out=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$out"
mkdir -p "$out"

# page NAME DESCRIPTION HELP-FILE SEE-ALSO...: help2man asks a program for
# --help and --version, so a small one answers with the help text given.
page() {
  local name=$1 description=$2 help=$3 sep="" p
  shift 3
  # help2man's cues for the SYNOPSIS section: "Usage:" and "or:" lines, each
  # form on one line.
  awk '/^usage:/ { u = 1; sub(/^usage:/, "Usage:") } u && /^$/ { u = 0 }
       u && /^ +(tarn|midas-synth) / { sub(/^ +/, "   or: ") }
       u && /^ / && !/^   or: / { sub(/^ +/, " "); line = line $0; next }
       NR > 1 { print line } { line = $0 } END { print line }' "$help" >"$help.synopsis"
  mv "$help.synopsis" "$help"
  printf '#!/bin/sh\nif [ "$1" = --version ]; then echo "%s %s"; else cat "%s"; fi\n' \
    "$name" "$version" "$help" >"$work/$name"
  chmod +x "$work/$name"
  { printf '[SEE ALSO]\n'; for p in "$@"; do printf '%s.BR %s (1)' "$sep" "$p"; sep=$',\n'; done; echo; } \
    >"$work/$name.see"
  help2man --no-info --section=1 --manual="tarn manual" --source="tarn $version" --name="$description" \
    --include="$work/$name.see" --output="$out/$name.1" "$work/$name"
}

timeout 20 "$tarn" --help >"$work/tarn.txt"
usage_of() { grep -E "^(usage:)? +tarn \[?$1\]?( |$)" "$work/tarn.txt"; }
subs=$(sed -n -E 's/^(usage:)? +tarn \[?([a-z][a-z-]*)\]?( .*)?$/\2/p' "$work/tarn.txt")
[ -n "$subs" ] || { echo "man-pages: no subcommands in '$tarn --help'" >&2; exit 1; }

pages=()
for sub in $subs; do
  # What the usage line says the subcommand does: the text after the synopsis.
  description=$(usage_of "$sub" | head -n 1 | sed -E -e 's/^.*[^ ]  +//' -e 's/ *\(.*\)$//')
  help="$work/$sub.txt"
  if ! timeout 20 "$tarn" "$sub" --help >"$help" 2>/dev/null || [ ! -s "$help" ]; then
    usage_of "$sub" | sed -E 's/^ +tarn/usage: tarn/' >"$help"
    if usage_of "\\[$sub\\]" >/dev/null; then sed -n '/^$/,$p' "$work/tarn.txt" >>"$help"; fi
  fi
  page "tarn-$sub" "$description" "$help" tarn
  pages+=("tarn-$sub")
done
page tarn "run graphs of analysis plug-ins over MIDAS run files" "$work/tarn.txt" "${pages[@]}" midas-synth
"$synth" --help >"$work/midas-synth.txt"
page midas-synth "write MIDAS run files of known contents" "$work/midas-synth.txt" tarn
gzip -9n "$out"/*.1
