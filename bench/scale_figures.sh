#!/bin/sh
# The speed and scale figures of a county-sized overnight run, one after the
# other in one sitting so that they share the machine's state:
#   - writer_bench: 4K top + top_range on the sample city, JPEG and PNG;
#   - pipeline_bench on real tiles: 1920 x 1080, top + north + top_range,
#     one by one against the fast mode;
#   - county_bench: one shard of 10 on a county of 100 x 100 roots (written
#     first when the folder does not exist yet).
#
#   bench/scale_figures.sh [build folder] [real tile folder] [county folder]
set -eu
build=${1:-build}
real=${2:-../shared/testdata/real-tiles/cc-tile-chain}
county=${3:-$build/county100}

echo "== $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
"$build/bin/writer_bench"
if [ -d "$real" ]; then
    "$build/bin/pipeline_bench" --real "$real" 20 1920 1080
else
    echo "pipeline_bench --real: no tiles at $real"
fi
[ -d "$county" ] || "$build/bin/make_sample_city" --county 100x100 "$county"
"$build/bin/county_bench" "$county" 10000 320 180 10
echo "== done, load $(cut -d' ' -f1-3 /proc/loadavg)"
