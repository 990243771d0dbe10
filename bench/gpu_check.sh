#!/bin/sh
# On a machine with a GPU: shows which EGL device Vistrel renders with, then
# runs the pipeline bench there.
#
#   bench/gpu_check.sh [build folder] [EGL device index]
#
# The device index, when given, is passed as VISTREL_EGL_DEVICE; without it
# Vistrel takes the first GPU that opens (and says so when none does).
set -eu
build=${1:-build}
if [ -n "${2:-}" ]; then
    VISTREL_EGL_DEVICE=$2
    export VISTREL_EGL_DEVICE
fi
unset DISPLAY
command -v nvidia-smi >/dev/null 2>&1 && nvidia-smi -L || echo "nvidia-smi: not found"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sample=$(cd "$build/sample" && pwd)
cat > "$work/render.json" <<JSON
{"osgb_path": "$sample/city", "shp_path": "$sample/parcels.shp", "output_dir": "$work/out",
 "width": 320, "height": 180, "angles": ["top"], "preview_limit": 1,
 "field_names": ["ZDDM", "FWBH"], "distance": 100}
JSON
"$build/bin/Vistrel" "$work/render.json" >"$work/log" 2>&1 || { cat "$work/log"; exit 1; }
grep -E "OpenGL context|No GPU" "$work/log"

"$build/bin/pipeline_bench" "$sample"
