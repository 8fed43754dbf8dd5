#!/usr/bin/env bash
# A one-node Slurm cluster on this machine, for the batch tests and for trying
# `tarn batch --slurm` without a cluster: munge with a key of its own, then
# slurmctld and slurmd, with config, state, logs and pid files in a temporary
# directory, the node as big as the machine.
#
#   eval "$(scripts/slurm-local.sh start)"   # prints export SLURM_CONF=PATH
#   scripts/slurm-local.sh stop [DIR]         # DIR defaults to that of $SLURM_CONF
#
# stop ends exactly the daemons start recorded, by process id. Needs root.
set -euo pipefail

die() { echo "slurm-local: $*" >&2; exit 1; }

# Waits up to $1 seconds for the command after it to succeed.
within() {
  local seconds=$1; shift
  local end=$((SECONDS + seconds))
  until "$@" >/dev/null 2>&1; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.5
  done
}

stop() {
  local dir=${1:-}
  [ -n "$dir" ] || { [ -n "${SLURM_CONF:-}" ] && dir=$(dirname "$SLURM_CONF"); }
  [ -n "$dir" ] && [ -f "$dir/slurm.conf" ] || die "no local cluster to stop (give its directory)"
  local name pid
  for name in slurmd slurmctld munged; do
    [ -s "$dir/$name.pid" ] || continue
    pid=$(cat "$dir/$name.pid")
    # Only the daemon this script started: the pid must still be that program.
    if [ -r "/proc/$pid/cmdline" ] && tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q "$name"; then
      kill "$pid" 2>/dev/null || true
      within 15 bash -c "! kill -0 $pid" || kill -9 "$pid" 2>/dev/null || true
    fi
    rm -f "$dir/$name.pid"
  done
  case "$dir" in /tmp/tarn-slurm.*) rm -rf "$dir" ;; esac  # made by start: config, state, logs
  echo "slurm-local: stopped the cluster in $dir" >&2
}

start() {
  [ "$(id -u)" -eq 0 ] || die "needs root (slurmd runs jobs as their users)"
  local tool
  for tool in munged mungekey slurmctld slurmd sbatch squeue scontrol sinfo; do
    command -v "$tool" >/dev/null || die "$tool not found: install slurm-wlm and munge (scripts/ensure-deps.sh)"
  done
  local dir host node
  dir=$(mktemp -d /tmp/tarn-slurm.XXXXXX)
  chmod 755 "$dir"
  mkdir -p "$dir/munge" "$dir/state" "$dir/spool"
  chmod 700 "$dir/munge"
  host=$(hostname -s)

  mungekey --create --keyfile="$dir/munge/munge.key" --force
  chmod 400 "$dir/munge/munge.key"
  munged --key-file="$dir/munge/munge.key" --socket="$dir/munge/munge.socket" \
    --pid-file="$dir/munged.pid" --log-file="$dir/munged.log" --seed-file="$dir/munge/seed" --force
  within 10 test -S "$dir/munge/munge.socket" || { tail -5 "$dir/munged.log" >&2; stop "$dir"; die "munged did not start"; }

  # The node as slurmd finds this machine (CPUs, sockets, memory).
  node=$(slurmd -C | head -1)
  case "$node" in NodeName=*) ;; *) die "slurmd -C gave no node description" ;; esac
  node="NodeName=$host ${node#NodeName=* }"
  local port=$((20000 + RANDOM % 20000))
  cat >"$dir/slurm.conf" <<CONF
ClusterName=tarnlocal
SlurmctldHost=$host
SlurmUser=root
SlurmdUser=root
SlurmctldPort=$port
SlurmdPort=$((port + 1))
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$dir/munge/munge.socket
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/slurmctld.log
SlurmdLogFile=$dir/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SwitchType=switch/none
MpiDefault=none
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
JobCompType=jobcomp/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SlurmctldTimeout=30
SlurmdTimeout=30
MinJobAge=300
$node State=UNKNOWN
PartitionName=local Nodes=$host Default=YES MaxTime=INFINITE State=UP
CONF
  export SLURM_CONF=$dir/slurm.conf
  slurmctld -f "$SLURM_CONF"
  within 30 scontrol ping || { tail -5 "$dir/slurmctld.log" >&2; stop "$dir"; die "slurmctld did not answer"; }
  slurmd -f "$SLURM_CONF"
  within 60 bash -c "sinfo -h -N -o %t | grep -qE '^(idle|mix|alloc)'" ||
    { tail -5 "$dir/slurmd.log" >&2; stop "$dir"; die "the node did not come up"; }
  echo "slurm-local: one-node cluster up in $dir" >&2
  echo "export SLURM_CONF=$SLURM_CONF"
}

case "${1:-}" in
  start) start ;;
  stop) stop "${2:-}" ;;
  *) echo "usage: $0 start|stop [DIR]" >&2; exit 2 ;;
esac
