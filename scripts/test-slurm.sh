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
# A machine where the daemons cannot come up (no hostname to bind, no room for
# their sockets) skips, saying why; the tests then skip inside ctest as well.
if ! started=$("$here/slurm-local.sh" start); then
  echo "test-slurm: SKIPPED: a one-node Slurm cluster could not be started here (see above)" >&2
  exit 0
fi
eval "$started"
trap '"$here/slurm-local.sh" stop "$(dirname "$SLURM_CONF")"' EXIT
# Here a cluster is up: a Slurm test that cannot use it fails instead of skipping.
export TARN_REQUIRE_SLURM=1
cd "$build" && ctest --output-on-failure --no-tests=error -R 'TarnBatchSlurm'
