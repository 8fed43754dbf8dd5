#!/usr/bin/env bash
# The Debian package as a new user on a cluster meets it: unpacked alone into a
# scratch directory and run from elsewhere, with no TARN_PLUGIN_PATH, its
# runner finds its own plug-ins and libraries and never the build tree, its
# example graphs run from any directory, and the man pages, completion and
# doc files a Debian user looks for are there.
set -euo pipefail
build=$(cd "$1" && pwd)
if ! command -v dpkg-deb >/dev/null || ! command -v cpack >/dev/null; then
  echo "package test: no dpkg-deb or cpack; skipped"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
work=$(cd "$work" && pwd -P)
(cd "$build" && cpack -G DEB -B "$work/package" >/dev/null)
deb=$(ls "$work"/package/tarn_*_*.deb)
dpkg-deb -f "$deb" Depends | grep -q 'libhdf5' || { echo "no HDF5 among the dependencies of $deb"; exit 1; }
dpkg-deb -x "$deb" "$work/root"
root=$work/root/usr

unset TARN_PLUGIN_PATH LD_LIBRARY_PATH MIDASDATA
cd "$work"
"$root/bin/tarn" list > list.txt
grep -qx "$root/lib/tarn/plugins:" list.txt || { echo "not its own plug-ins:"; cat list.txt; exit 1; }
if grep -q "$build" list.txt; then echo "looks into the build tree:"; cat list.txt; exit 1; fi
if ldd "$root/bin/tarn" "$root/lib/tarn/plugins/"*.tnp | grep -e "$build" -e 'not found'; then exit 1; fi

# A run made and analysed with the package's programs only, then merged as a batch of one.
"$root/bin/midas-synth" --modules --events 50 run00001.mid.gz
mkdir -p batch/run00001
(cd batch/run00001 && "$root/bin/tarn" run "$root/share/tarn/examples/batch.tarn" --no-progress \
  -s in.file="$work/run00001.mid.gz" > stdout)
grep -q '^hist: run00001_ADCValue.csv, .png: ' batch/run00001/stdout || { cat batch/run00001/stdout; exit 1; }
test -s batch/run00001/spectra.h5
echo '{"run": "run00001.mid.gz", "name": "run00001", "index": 0, "state": "done"}' > batch/run00001/status.json
"$root/bin/tarn" merge batch > merge.txt
cmp batch/run00001/run00001_ADCValue.csv batch/merged/all_ADCValue.csv

# An example graph as installed, run from elsewhere: the run it reads lies beside it.
mkdir elsewhere
(cd elsewhere && "$root/bin/tarn" run ../root/usr/share/tarn/examples/demo.tarn --no-progress > demo.txt) ||
  { cat elsewhere/demo.txt; exit 1; }
grep -q 'examples/build/sample/run00001.mid.gz" opened' elsewhere/demo.txt || { cat elsewhere/demo.txt; exit 1; }

# A man page for each program and each subcommand the runner names in its usage.
subs=$("$root/bin/tarn" --help | sed -n -E 's/^(usage:)? +tarn \[?([a-z][a-z-]*)\]?( .*)?$/\2/p')
[ "$(wc -w <<<"$subs")" -ge 5 ] || { echo "subcommands: $subs"; exit 1; }
for page in tarn midas-synth $(printf 'tarn-%s ' $subs); do
  man=$root/share/man/man1/$page.1.gz
  zcat "$man" | grep -q "^\.SH SYNOPSIS" || { echo "no man page $man"; exit 1; }
done
zcat "$root/share/man/man1/tarn-batch.1.gz" | grep -q -- 'slurm' || { echo "tarn-batch(1) lacks the help text"; exit 1; }
for doc in copyright README.md; do
  test -s "$root/share/doc/tarn/$doc" || { echo "no $root/share/doc/tarn/$doc"; exit 1; }
done
readelf -d "$root/lib/libTarnBase.so.0" | grep -q 'SONAME.*\[libTarnBase\.so\.0\]' ||
  { echo "libTarnBase has no versioned name"; exit 1; }

# Completion as bash asks for it: subcommands, plug-in types, NODE.PORT= settings.
complete_words() {  # WORD... (the last is the one being completed)
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _tarn; echo "${COMPREPLY[*]}"' \
    - "$root/share/bash-completion/completions/tarn" "$root/bin/tarn" "$@"
}
[ "$(complete_words insp)" = inspect ] || { echo "completes 'insp' to: $(complete_words insp)"; exit 1; }
[ "$(complete_words inspect RunF)" = RunFile ] || { echo "no RunFile: $(complete_words inspect RunF)"; exit 1; }
graph=$root/share/tarn/examples/demo.tarn
[[ " $(complete_words run "$graph" -s in.) " == *" in.file= "* ]] || { complete_words run "$graph" -s in.; exit 1; }

# The Python package, where the build made one: imported from the package's
# tree, it runs the package's own plug-ins.
if [ -d "$root/lib/python3/dist-packages/tarn" ]; then
  dpkg-deb -f "$deb" Depends | grep -q 'python3-numpy' || { echo "no numpy among the dependencies of $deb"; exit 1; }
  PYTHONPATH="$root/lib/python3/dist-packages" /usr/bin/python3 - "$root" "$work/run00001.mid.gz" <<'PY'
import sys
import tarn
root, run = sys.argv[1], sys.argv[2]
assert tarn.__file__.startswith(root), tarn.__file__
g = tarn.Graph()
g.node("in", "RunFile", file=run)
g.node("unpack", "CompositeUnpacker")
g.node("hist", "Histogrammer", properties="ADCValue", prefix="py")
g.connect("in.event", "unpack.event")
g.connect("unpack.fevent", "hist.fevent")
g.start("in")
assert g.run().spectrum("ADCValue").entries > 0
assert len(tarn.read_banks(run, ["ADC0"])["ADC0"]) == 50
PY
fi
echo "package test: $(basename "$deb") runs from $root"
