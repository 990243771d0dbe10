#!/bin/bash
# Submits the shards as a job array and the last step as a job that starts
# when every task of the array has ended (also after a failed task: the last
# step renders what is missing).
#
#   VISTREL_CONFIG=/shared/project/render.json deploy/slurm/submit.sh [sbatch options]
#
# Options given here go to both sbatch calls, ahead of the scripts' own
# #SBATCH lines (a partition, --cpus-per-task=2 --mem=2G, an account).
# VISTREL_SHARDS=n makes the array n tasks (0..n-1) instead of the script's
# --array line.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
: "${VISTREL_CONFIG:?set VISTREL_CONFIG to the render.json on the shared file system}"
export VISTREL_CONFIG
shards=()
if [[ -n "${VISTREL_SHARDS:-}" ]]; then
  if [[ ! "$VISTREL_SHARDS" =~ ^[1-9][0-9]*$ ]]; then
    echo "VISTREL_SHARDS must be a whole number from 1, got \"$VISTREL_SHARDS\"" >&2
    exit 1
  fi
  shards=(--array="0-$((VISTREL_SHARDS - 1))")
fi
array=$(sbatch --parsable --export=ALL "${shards[@]}" "$@" "$here/vistrel-array.sbatch")
final=$(sbatch --parsable --export=ALL --dependency="afterany:${array%%;*}" "$@" "$here/vistrel-final.sbatch")
echo "shards: job $array; last step: job $final"
