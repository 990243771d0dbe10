#!/bin/bash
# Runs the sample city through deploy/slurm/submit.sh on a one-node Slurm
# cluster started here (munged, slurmctld, slurmd on localhost, configured in
# a folder below the build tree) and checks that 3 array tasks and the final
# step give the images and report of one plain run. Every daemon it started
# is stopped on the way out, also after a failure.
#
#   slurm_cluster_test.sh <source dir> <Vistrel> <sample dir> <work dir>
#
# Exits 77 (skipped) when it cannot run here, saying what is missing.
set -euo pipefail
source_dir=$1
vistrel=$2
sample=$3
work=$4

skip() {
  echo "SKIPPED: $*"
  exit 77
}
[[ $(id -u) -eq 0 ]] || skip "the cluster test starts Slurm's daemons and must run as root"
missing=()
for tool in munged mungekey slurmctld slurmd sbatch squeue scontrol sinfo; do
  command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
((${#missing[@]} == 0)) || skip "not installed: ${missing[*]} (Debian packages slurm-wlm and munge)"
[[ -x "$vistrel" ]] || skip "no Vistrel program at $vistrel"
[[ -f "$sample/truth.json" ]] || skip "no sample city in $sample"

rm -rf "$work"
mkdir -p "$work"/{munge,state,spool,jobs}
chmod 700 "$work/munge"
started=()
stop_daemons() {
  local pid
  for pid in "${started[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${started[@]}"; do
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
  done
}
trap stop_daemons EXIT
pid_of() {
  for _ in $(seq 100); do
    [[ -s "$1" ]] && { cat "$1"; return 0; }
    sleep 0.1
  done
  echo "FAILED: no pid file $1" >&2
  return 1
}

# munge with a key and socket of its own.
mungekey --create --keyfile="$work/munge/munge.key" --force
munged --force --socket="$work/munge/munge.socket" --key-file="$work/munge/munge.key" \
  --pid-file="$work/munge/munged.pid" --log-file="$work/munge/munged.log" --seed-file="$work/munge/seed"
started+=("$(pid_of "$work/munge/munged.pid")")

port=$((20000 + RANDOM % 20000))
cat >"$work/slurm.conf" <<EOF
ClusterName=vistreltest
SlurmctldHost=localhost
SlurmctldPort=$port
SlurmdPort=$((port + 1))
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$work/munge/munge.socket
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
ReturnToService=2
MinJobAge=600
NodeName=localhost NodeAddr=127.0.0.1 CPUs=$(nproc) RealMemory=2000 State=UNKNOWN
PartitionName=test Nodes=localhost Default=YES MaxTime=INFINITE State=UP
EOF
export SLURM_CONF=$work/slurm.conf
slurmctld -f "$SLURM_CONF"
started+=("$(pid_of "$work/slurmctld.pid")")
slurmd -f "$SLURM_CONF" -N localhost
started+=("$(pid_of "$work/slurmd.pid")")
for _ in $(seq 60); do
  sinfo -h -o %t 2>/dev/null | grep -qx idle && break
  sleep 0.5
done
sinfo -h -o %t | grep -qx idle || { echo "FAILED: the node did not come up"; tail -20 "$work"/slurm*.log; exit 1; }

# One configuration for the plain run and the cluster (resume, as a cluster
# batch needs it); only the output folder differs.
python3 - "$sample" "$work" <<'EOF'
import json, pathlib, sys
sample, work = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
truth = json.loads((sample / "truth.json").read_text())
config = {
    "osgb_path": str(sample / "city"), "shp_path": str(sample / "parcels.shp"),
    "width": 320, "height": 180, "warmup_frames": 0, "warmup_until_loaded": True,
    "field_names": truth["shapefiles"]["field_names"],
    "field_separator": truth["shapefiles"]["field_separator"],
    "distance": truth["camera"]["distance"], "angles": ["top", "north"], "output_top_range": True,
    "photo_name_template": "<ZDDM>/#_<ANGLE>", "num_threads": 1, "resume": True,
}
for name in ("one", "cluster"):
    (work / f"{name}.json").write_text(json.dumps(dict(config, output_dir=str(work / name))))
EOF
(cd "$work/jobs" && DISPLAY= "$vistrel" "$work/one.json" >"$work/one.log" 2>&1) ||
  { echo "FAILED: the plain run"; tail -20 "$work/one.log"; exit 1; }

cd "$work/jobs"
submitted=$(DISPLAY= VISTREL="$vistrel" VISTREL_CONFIG="$work/cluster.json" VISTREL_WORKDIR="$work/jobs" \
  VISTREL_SHARDS=3 "$source_dir/deploy/slurm/submit.sh" --cpus-per-task=1 --mem=500M)
echo "$submitted"
final=${submitted##*job }
for _ in $(seq 240); do
  [[ -z "$(squeue -h -o %i)" ]] && break
  sleep 0.5
done
[[ -z "$(squeue -h -o %i)" ]] || { echo "FAILED: jobs still queued"; squeue; exit 1; }
state=$(scontrol show job "$final" | grep -o 'JobState=[A-Z]*')
[[ "$state" == JobState=COMPLETED ]] || { echo "FAILED: the final step ended $state"; cat "$work"/jobs/*.out; exit 1; }
shards=$(ls "$work/cluster" | grep -c '^render_report\.shard-[0-2]-of-3\.csv$' || true)
[[ "$shards" == 3 ]] || { echo "FAILED: $shards shard reports of 3"; cat "$work"/jobs/*.out; exit 1; }

python3 "$source_dir/tests/deploy/compare_runs.py" "$work/one" "$work/cluster"
