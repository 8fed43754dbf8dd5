#!/usr/bin/env bash
# `make test-slurm`: the batch runner's Slurm tests against a real one-node
# cluster (scripts/slurm-local.sh), which is stopped again whatever the result.
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
if [ "$(id -u)" -ne 0 ]; then
  echo "test-slurm: skipped: the local Slurm cluster needs root" >&2
  exit 0
fi
eval "$("$here/slurm-local.sh" start)"
trap '"$here/slurm-local.sh" stop "$(dirname "$SLURM_CONF")"' EXIT
# Here a cluster is up: a Slurm test that cannot use it fails instead of skipping.
export TARN_REQUIRE_SLURM=1
cd "$build" && ctest --output-on-failure --no-tests=error -R 'TarnBatchSlurm'
