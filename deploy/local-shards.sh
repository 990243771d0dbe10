#!/bin/bash
# The cluster's way on one machine: N Vistrel processes at once, each told its
# shard through the variables a Kubernetes Indexed Job sets, then the last
# unsharded step. Useful on a machine with cores or GPUs to spare, and to try
# a configuration before submitting it.
#
#   deploy/local-shards.sh <render.json with "resume": true> [shards, default 2]
set -uo pipefail
config=${1:?usage: deploy/local-shards.sh <render.json> [shards]}
shards=${2:-2}
here=$(cd "$(dirname "$0")/.." && pwd)
vistrel=${VISTREL:-$here/build/bin/Vistrel}
workdir=${VISTREL_WORKDIR:-$PWD/vistrel-local}

pids=()
for ((k = 0; k < shards; k++)); do
  mkdir -p "$workdir/shard-$k"
  (cd "$workdir/shard-$k" && JOB_COMPLETION_INDEX=$k VISTREL_SHARD_COUNT=$shards \
     exec "$vistrel" "$config" >"$workdir/shard-$k.out" 2>&1) &
  pids+=($!)
done
status=0
for ((k = 0; k < shards; k++)); do
  wait "${pids[$k]}"
  code=$?
  echo "shard $k of $shards ended with exit code $code ($workdir/shard-$k.out)"
  (( code == 0 )) || status=$code
done

mkdir -p "$workdir/final"
(cd "$workdir/final" && exec "$vistrel" "$config" >"$workdir/final.out" 2>&1)
code=$?
echo "last step ended with exit code $code ($workdir/final.out)"
(( code == 0 )) || status=$code
exit $status
