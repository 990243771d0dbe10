#!/bin/bash
# Submits the shards as a job array and the last step as a job that starts
# when every task of the array has ended (also after a failed task: the last
# step renders what is missing).
#
#   VISTREL_CONFIG=/shared/project/render.json deploy/slurm/submit.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
: "${VISTREL_CONFIG:?set VISTREL_CONFIG to the render.json on the shared file system}"
export VISTREL_CONFIG
array=$(sbatch --parsable --export=ALL "$here/vistrel-array.sbatch")
final=$(sbatch --parsable --export=ALL --dependency="afterany:${array%%;*}" "$here/vistrel-final.sbatch")
echo "shards: job $array; last step: job $final"
