#!/bin/sh
# Files per second at 1920 x 1080 for top + top_range on the sample city as
# OSGB tiles (city_enu) and as 3D Tiles in each encoding, side by side: the
# whole Vistrel process, three runs each in turns, medians of wall and CPU.
#
#   bench/tiles3d_bench.sh [build folder]
set -eu
build=$(cd "${1:-build}" && pwd)
sample="$build/sample"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

config() {
    cat > "$work/$1.json" <<JSON
{"osgb_path": "$sample/$1", "shp_path": "$sample/parcels.shp", "output_dir": "$work/out-$1",
 "width": 1920, "height": 1080, "output_format": "jpg", "angles": ["top"], "output_top_range": true,
 "field_names": ["ZDDM"], "html_report": false, "resume": false, "warmup_until_loaded": true}
JSON
}

models="city_enu city_3dtiles city_3dtiles_draco city_3dtiles_meshopt city_3dtiles_webp"
for model in $models; do config "$model"; done
echo "== $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
for round in 1 2 3; do
    for model in $models; do
        rm -rf "$work/out-$model"
        /usr/bin/time -f "%e %U %S" -o "$work/$model.$round" \
            env DISPLAY= "$build/bin/Vistrel" "$work/$model.json" > "$work/$model.log" 2>&1
        grep -c '] Wrote /' "$work/$model.log" > "$work/$model.files" || true
    done
done
printf '%-22s %8s %8s %8s %10s\n' model files wall_s cpu_s files/s
for model in $models; do
    files=$(cat "$work/$model.files")
    wall=$(cat "$work/$model".? | awk '{print $1}' | sort -n | sed -n 2p)
    cpu=$(cat "$work/$model".? | awk '{print $2 + $3}' | sort -n | sed -n 2p)
    printf '%-22s %8s %8s %8s %10.2f\n' "$model" "$files" "$wall" "$cpu" "$(echo "$files / $wall" | bc -l)"
done
echo "== done, load $(cut -d' ' -f1-3 /proc/loadavg)"
