#!/bin/bash
# The cluster image built and run for real, without a registry: a Debian 12
# base made here with debootstrap from the archive apt uses, deploy/Dockerfile
# built on it with podman, then the Kubernetes manifests played on this
# machine, one pod per completion index as an Indexed Job runs them and then
# the final job, over a copy of the sample city. Checks the image (size and
# contents), every pod's exit code and summary line, that a pod stopped
# midway (SIGTERM, as Kubernetes stops a pod) and started again goes on where
# it stopped, and that the images and render_report.csv equal one plain run's.
#
#   deploy/container-test.sh [build folder, default build]
#
# Needs root and Debian's podman, runc, catatonit and debootstrap
# (scripts/install-deps.sh), the build's Vistrel and sample city. It keeps
# everything in <build>/container: its podman configuration and storage (the
# base image, reused while its recipe is unchanged, and the image layers), a
# ccache folder for the build inside the image and the last run's folders.
# Where no engine can run it says why and exits 0 (skipped), as it does with
# VISTREL_CONTAINER=0. The pods and the volume it made are removed on the way
# out, also after a failure.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$source_dir/build}

skip() {
  echo "SKIPPED: the container test: $*"
  exit 0
}
fail() {
  echo "FAILED: the container test: $*"
  exit 1
}
[[ "${VISTREL_CONTAINER:-1}" != 0 ]] || skip "VISTREL_CONTAINER=0"
[[ $(id -u) -eq 0 ]] || skip "podman runs the pods as root here; run as root"
missing=()
for tool in podman runc catatonit debootstrap; do
  command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
((${#missing[@]} == 0)) || skip "not installed: ${missing[*]} (scripts/install-deps.sh installs them)"
build=$(cd "$build" 2>/dev/null && pwd) || skip "no build folder ${1:-build}"
vistrel=$build/bin/Vistrel
sample=$build/sample
[[ -x "$vistrel" && -f "$sample/truth.json" ]] || skip "no Vistrel or sample city in $build (build first)"

state=$build/container
work=$state/run
image=localhost/vistrel:test
mkdir -p "$state/ccache"

# podman's configuration and storage of its own: runc (crun cannot set the
# limits or use the cgroups of some machines), no default ulimits, no systemd.
# podman's database holds the settings its storage was made with: the storage
# is kept only while they are unchanged.
run_dir=/run/vistrel-container-$(printf '%s' "$state" | sha256sum | cut -c1-12)
conf=$state/conf
rm -rf "$conf.new"
mkdir -p "$conf.new"
cat >"$conf.new/containers.conf" <<EOF
[containers]
default_ulimits = []
log_driver = "k8s-file"
[engine]
runtime = "runc"
cgroup_manager = "cgroupfs"
events_logger = "file"
tmp_dir = "$run_dir/libpod"
EOF
cat >"$conf.new/storage.conf" <<EOF
[storage]
driver = "overlay"
graphroot = "$state/storage"
runroot = "$run_dir/storage"
EOF
cat >"$conf.new/registries.conf" <<'EOF'
unqualified-search-registries = ["docker.io"]
short-name-mode = "permissive"
EOF
if diff -r -q "$conf.new" "$conf" >/dev/null 2>&1; then
  rm -rf "$conf.new"
else
  awk -v storage="$state/storage/" 'index($2, storage) == 1 { print $2 }' /proc/mounts | sort -r |
    while read -r mount; do umount -l "$mount"; done
  rm -rf "$state/storage" "$run_dir" "$conf"
  mv "$conf.new" "$conf"
fi
export CONTAINERS_CONF=$conf/containers.conf
export CONTAINERS_STORAGE_CONF=$conf/storage.conf
export CONTAINERS_REGISTRIES_CONF=$conf/registries.conf
podman info >"$state/podman-info.txt" 2>&1 || skip "podman does not start here: $(tail -1 "$state/podman-info.txt")"
# What an interrupted run may have left.
podman pod rm -f -a >/dev/null 2>&1 || true
podman rm -f -a >/dev/null 2>&1 || true

rm -rf "$work"
mkdir -p "$work/logs"
played=()
volumes=()
cleanup() {
  local file name
  for file in "${played[@]}"; do
    podman kube down "$file" >/dev/null 2>&1 || true
  done
  for name in "${volumes[@]}"; do
    podman volume rm -f "$name" >/dev/null 2>&1 || true
  done
}
trap cleanup EXIT

# The base, from the archive apt uses (no registry), then the image.
status=0
base=$("$source_dir/deploy/debian-base.sh" "$state" 2>"$work/logs/base.log") || status=$?
((status != 2 && status != 3)) || skip "no base image: $(cat "$work/logs/base.log")"
((status == 0)) || fail "the base image: $(cat "$work/logs/base.log")"
podman run --rm --network=none "$base" true >"$work/logs/probe.log" 2>&1 ||
  skip "podman cannot run a container here: $(tail -2 "$work/logs/probe.log" | tr '\n' ' ')"
base_seconds=$SECONDS
echo "Base image $base ($base_seconds s)"

build_image() {
  podman build --pull=never --network=host -v "$state/ccache:/ccache" -f "$source_dir/deploy/Dockerfile" "$@" \
    "$source_dir"
}
# The build stage first. podman does not reuse the steps that copy from
# another stage: while the build stage is the one the image was made from
# (same sources) and the Dockerfile is the same, the image stands as it is.
build_all() {
  local from
  build_image --target build -t localhost/vistrel-build:test || return 1
  from="$(podman image inspect --format '{{.Id}}' localhost/vistrel-build:test)"
  from+=" $(sha256sum <"$source_dir/deploy/Dockerfile")"
  if [[ "$(cat "$state/image-from" 2>/dev/null)" != "$from" ]] || ! podman image exists "$image"; then
    rm -f "$state/image-from"
    build_image -t "$image" || return 1
    echo "$from" >"$state/image-from"
  fi
}
echo "Building $image from deploy/Dockerfile on $base (log: $work/logs/build.log)"
if ! build_all >"$work/logs/build.log" 2>&1; then
  podman run --rm --network=host "$base" apt-get update -q >"$work/logs/archive.log" 2>&1 ||
    skip "the Debian archive cannot be reached from a container: $(tail -2 "$work/logs/archive.log" | tr '\n' ' ')"
  tail -30 "$work/logs/build.log"
  fail "podman build of deploy/Dockerfile failed (log: $work/logs/build.log)"
fi
# What earlier builds left without a name (their last layers).
podman image prune -f >/dev/null 2>&1 || true
build_seconds=$SECONDS

size=$(podman image inspect --format '{{.Size}}' "$image")
echo "Image $image: $((size / 1000000)) MB (built in $((build_seconds - base_seconds)) s)"
((size <= 600000000)) || fail "the image is $((size / 1000000)) MB, above 600 MB"
# Only what Vistrel runs with: no compilers or build tools, no -dev packages,
# no Qt, no sample generator, every library found.
podman run --rm --network=none --entrypoint /bin/sh "$image" -c '
  tools=""
  for tool in cc gcc g++ c++ cmake ninja make moc make_sample_city; do
    command -v "$tool" >/dev/null && tools="$tools $tool"
  done
  packages=$(dpkg-query -W -f="\${Package}\n" | grep -E -- "-dev\$|^libqt|^qt6" | tr "\n" " ")
  libraries=$(ldd /usr/local/bin/Vistrel | grep "not found")
  [ -z "$tools$packages$libraries" ] || { echo "tools:$tools; packages: $packages; libraries: $libraries"; exit 1; }
' >"$work/logs/contents.log" 2>&1 || fail "the image's contents: $(cat "$work/logs/contents.log")"

# The project folder of one plain run, and the claim's folder for the pods:
# the sample city with a configuration whose paths are relative to it.
project() {
  mkdir -p "$1/task"
  cp -r "$sample/city" "$sample"/parcels.* "$1/"
  python3 - "$sample/truth.json" "$1/render.json" <<'PY'
import json, sys
truth = json.load(open(sys.argv[1]))
config = {
    "osgb_path": "city", "shp_path": "parcels.shp", "output_dir": "output",
    "width": 320, "height": 180, "warmup_frames": 0, "warmup_until_loaded": True,
    "field_names": truth["shapefiles"]["field_names"],
    "field_separator": truth["shapefiles"]["field_separator"],
    "distance": truth["camera"]["distance"], "angles": ["top", "north"], "output_top_range": True,
    "photo_name_template": "<ZDDM>/#_<ANGLE>", "num_threads": 1, "resume": True,
}
open(sys.argv[2], "w").write(json.dumps(config, indent=2))
PY
}
project "$work/one"
(cd "$work/one/task" && DISPLAY='' "$vistrel" ../render.json >"$work/logs/one.log" 2>&1) ||
  fail "the plain run outside the container: $(tail -5 "$work/logs/one.log")"
project "$work/project"

summary_of() {
  grep -o 'Render finished\..*' "$1" | tail -1 || true
}
# The summary line shard k of n prints: its frames' images as the plain run's
# journal records them; with a journal of a stopped run, what that recorded.
expected_summary() {
  python3 - "$work/one/output/.vistrel/journal-0-of-1.jsonl" "$@" <<'PY'
import json, sys
plain, k, n = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
def entries(path):
    lines = [json.loads(line) for line in open(path)]
    return [e for e in lines if "result" in e and e["frame"] % n == k]
total = len(entries(plain))
kept = entries(sys.argv[4]) if len(sys.argv) > 4 else entries(plain)
done = [e["result"] for e in kept]
line = (f"Render finished. Success {done.count('written')}/{total}, skipped {done.count('skipped')}, "
        f"failed {done.count('failed')}")
if len(done) < total:
    line += f", not done {total - len(done)}"
remarked = lambda remark: sum(remark in e["note"] for e in kept)
line += f", hidden {remarked('图斑大部分被遮挡')}, partly outside {remarked('图斑部分在模型范围外')}"
print(line + (f" (shard {k + 1} of {n}, shard_index {k})" if n > 1 else ""))
PY
}

pods=$work/pods
python3 "$source_dir/tests/deploy/kube_pods.py" "$source_dir/deploy/kubernetes/vistrel-shards.yaml" "$image" \
  "$pods/shards" >"$pods.shards.txt"
# The pod that is stopped midway runs with a tenth of a core, to be caught
# with a few images written.
python3 "$source_dir/tests/deploy/kube_pods.py" "$source_dir/deploy/kubernetes/vistrel-shards.yaml" "$image" \
  "$pods/stopped" --cpu-limit 0=100m >/dev/null
python3 "$source_dir/tests/deploy/kube_pods.py" "$source_dir/deploy/kubernetes/vistrel-final.yaml" "$image" \
  "$pods/final" >"$pods.final.txt"
mapfile -t claims < <(sed -n 's/^claim //p' "$pods.shards.txt" "$pods.final.txt" | sort -u)
for claim in "${claims[@]}"; do
  podman volume rm -f "$claim" >/dev/null 2>&1 || true
  podman volume create --opt type=none --opt o=bind --opt device="$work/project" "$claim" >/dev/null
  volumes+=("$claim")
done

play() {
  played+=("$1")
  podman kube play --network none --replace "$1" >>"$work/logs/play.log" 2>&1 ||
    fail "podman kube play $1: $(tail -3 "$work/logs/play.log")"
}
# Waits for a pod's container and keeps its output; its exit code in $code.
finish() {
  code=$(timeout 900 podman wait "$1") || fail "$1 did not end"
  podman logs "$1" >"$work/logs/$1.log" 2>&1
}
check_pod() {  # container, exit code, expected exit code, expected summary
  local summary
  summary=$(summary_of "$work/logs/$1.log")
  echo "$1: exit code $2, $summary"
  [[ "$2" == "$3" ]] || { tail -15 "$work/logs/$1.log"; fail "$1 ended with exit code $2, not $3"; }
  [[ "$summary" == "$4" ]] || fail "$1's summary is \"$summary\", not \"$4\""
}
# Stops a pod with SIGTERM, as Kubernetes does, once its journal holds two
# written images.
stop_midway() {  # container, journal
  local written
  for _ in $(seq 6000); do
    written=$(grep -c '"result":"written"' "$2" 2>/dev/null || true)
    if ((written >= 2)); then
      podman kill --signal TERM "$1" >/dev/null
      return 0
    fi
    if [[ $(podman inspect --format '{{.State.Running}}' "$1") != true ]]; then
      podman logs "$1" 2>&1 | tail -15
      fail "$1 ended (exit code $(podman inspect --format '{{.State.ExitCode}}' "$1")) before it could be stopped midway"
    fi
    sleep 0.05
  done
  fail "$1 wrote no two images in 300 seconds"
}

parallelism=$(sed -n 's/^parallelism //p' "$pods.shards.txt")
mapfile -t shard_pods < <(sed -n 's/^pod //p' "$pods.shards.txt")
count=${#shard_pods[@]}
journal() { echo "$work/project/output/.vistrel/journal-$1-of-$count.jsonl"; }
echo "Playing $count pods of vistrel-shards.yaml, $parallelism at once; the pod of index 0 is stopped midway"
for ((first = 0; first < count; first += parallelism)); do
  wave=("${shard_pods[@]:first:parallelism}")
  for entry in "${wave[@]}"; do
    read -r file name container index <<<"$entry"
    ((index == 0)) && file=$pods/stopped/${file##*/}
    play "$file"
  done
  for entry in "${wave[@]}"; do
    read -r file name container index <<<"$entry"
    ctr=$name-$container
    if ((index == 0)); then
      stop_midway "$ctr" "$(journal 0)"
      finish "$ctr"
      check_pod "$ctr" "$code" 5 "$(expected_summary 0 "$count" "$(journal 0)")"
      resumable=$(grep -c '"result":"written"' "$(journal 0)")
      mv "$work/logs/$ctr.log" "$work/logs/$ctr.stopped.log"
      # Started again, as the job's backoffLimit does, the pod as written.
      play "$file"
      finish "$ctr"
      check_pod "$ctr" "$code" 0 "$(expected_summary 0 "$count")"
      resumed=$(grep -c 'Resumed ' "$work/logs/$ctr.log" || true)
      again=$(grep -c 'again: ' "$work/logs/$ctr.log" || true)
      ((resumed == resumable && again == 0)) ||
        fail "$ctr started again resumed $resumed of the $resumable images written and rendered $again again"
      echo "$ctr started again: resumed the $resumed images written before the stop"
    else
      finish "$ctr"
      check_pod "$ctr" "$code" 0 "$(expected_summary "$index" "$count")"
    fi
  done
done
for ((k = 0; k < count; k++)); do
  [[ -f "$work/project/output/render_report.shard-$k-of-$count.csv" ]] || fail "no report of shard $k"
done

read -r file name container index < <(sed -n 's/^pod //p' "$pods.final.txt")
echo "Playing vistrel-final.yaml"
play "$file"
finish "$name-$container"
check_pod "$name-$container" "$code" 0 "$(summary_of "$work/logs/one.log")"
# It takes over every image the shards wrote and renders none again.
written=$(grep -c '"result":"written"' "$work/one/output/.vistrel/journal-0-of-1.jsonl")
resumed=$(grep -c 'Resumed ' "$work/logs/$name-$container.log" || true)
((resumed == written)) || fail "the final step resumed $resumed of the $written images the shards wrote"
python3 "$source_dir/tests/deploy/compare_runs.py" "$work/one/output" "$work/project/output" /data/output ||
  fail "the pods' images or report differ from the plain run's"
echo "PASSED: the container test ($((SECONDS)) s: base ${base_seconds} s, image $((build_seconds - base_seconds)) s," \
  "runs $((SECONDS - build_seconds)) s)"
