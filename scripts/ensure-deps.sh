#!/usr/bin/env bash
# Installs the Debian packages the build needs when run as root; otherwise
# names what is missing and stops.
set -euo pipefail

packages=(cmake make g++ zlib1g-dev libxml2-dev libgtest-dev libbenchmark-dev pkgconf)
# Analysis outputs: histogram plots (PLplot, cairo PNG device), HDF5 files, and
# h5py + matplotlib for the README's reading snippet, which the tests run.
packages+=(libplplot-dev plplot-driver-cairo libhdf5-dev python3-h5py python3-matplotlib time)
# Reliability checks: clang with libFuzzer and the sanitizer runtimes, valgrind.
packages+=(clang libclang-rt-14-dev valgrind)
# Compressed run files: ISA-L's inflate for gzip, lz4, bzip2 and zstd, each with
# its command-line tool for the tests and benchmarks that compare against it.
packages+=(libisal-dev isal liblz4-dev lz4 libbz2-dev bzip2 libzstd-dev zstd)
# Many runs: a one-node Slurm for the batch tests, h5dump for checking merged
# and written HDF5 files, and the Debian package build.
packages+=(slurm-wlm munge hdf5-tools dpkg-dev)
# The batch runner's manifest and status records, read again by `tarn merge`,
# and the JSON the live server answers with.
packages+=(nlohmann-json3-dev)
# The live page's test in a real, headless browser (`make test-browser`).
packages+=(chromium)
# Man pages of the package, made from the programs' own --help at build time.
packages+=(help2man)
# The Python package `tarn`: the extension's headers, numpy arrays, and its tests.
packages+=(python3-dev pybind11-dev python3-numpy python3-pytest)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
  echo "Installing: ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >&2
  apt-get install -y -qq "${missing[@]}" >&2
else
  echo "Missing Debian packages: ${missing[*]}" >&2
  echo "Install them with: sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
