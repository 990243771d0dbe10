#!/bin/bash
# Runs a fixed set of small batches over the sample city and keeps what they
# wrote in a form that two builds can be compared by: the pictures, thumbnails,
# world files and pages by content hash, the CSV reports without their time
# columns, the journals without their seconds and the logs without times.
#
#   bench/batch_identity.sh build/bin/Vistrel build/sample RESULTS
#   diff -r RESULTS_BEFORE RESULTS_AFTER
#
# The batches: every angle with the outline image, world files and the contact
# sheet, named by a template with "#" (two frames are skipped); the same with
# the default names (two frames share a name); a resumed run after images,
# a world file and the journal's tail were lost; two shards into one folder and
# shard 0 resumed there.
set -euo pipefail

vistrel=$(realpath "$1")
sample=$(realpath "$2")
results=$(realpath -m "$3")
work=/tmp/vistrel-batch-identity
rm -rf "$work" "$results"
mkdir -p "$work" "$results"

config() {  # config NAME OUTPUT_DIR EXTRA_JSON
    python3 - "$sample" "$work/$1.json" "$2" "$3" <<'EOF'
import json, sys
sample, path, out, extra = sys.argv[1:]
truth = json.load(open(sample + "/truth.json"))
c = {"osgb_path": sample + "/city", "shp_path": sample + "/parcels.shp", "output_dir": out,
     "width": 320, "height": 180, "warmup_frames": 0,
     "field_names": truth["shapefiles"]["field_names"], "field_separator": truth["shapefiles"]["field_separator"],
     "distance": truth["camera"]["distance"],
     "angles": ["top", "north", "south", "east", "west", "ne45", "nw45", "se45", "sw45", "oblique"],
     "output_top_range": True, "world_file": True, "html_report": True}
c.update(json.loads(extra))
json.dump(c, open(path, "w"), indent=1)
EOF
}

run() {  # run NAME: runs the configuration NAME, keeps its log
    (cd "$work" && DISPLAY= "$vistrel" "$1.json" >"$work/$1.log" 2>&1) || echo "rc $?" >>"$work/$1.log"
    sed -E -e 's/^\[[0-9_]+\]//' -e 's/(elapsed|eta)=[0-9.]+/\1=T/g' "$work/$1.log" >"$results/$1.log"
}

keep() {  # keep OUTPUT_DIR NAME: the output folder's contents as they stand now
    local dir="$work/$1" to="$results/$2"
    mkdir -p "$to"
    (cd "$dir" && find . -type f ! -name '*.csv' ! -name '*.jsonl' ! -name '*.lock' | LC_ALL=C sort |
        xargs -r sha256sum) >"$to/files.txt"
    for csv in "$dir"/*.csv; do
        python3 - "$csv" >"$to/$(basename "$csv")" <<'EOF'
import csv, sys
rows = list(csv.reader(open(sys.argv[1], encoding="utf-8-sig", newline="")))
timed = {i for i, title in enumerate(rows[0]) if title.endswith("耗时秒")}
for row in rows:
    print(",".join(cell for i, cell in enumerate(row) if i not in timed))
EOF
    done
    for journal in "$dir"/.vistrel/*.jsonl; do
        python3 - "$journal" >"$to/$(basename "$journal")" <<'EOF'
import json, sys
for line in open(sys.argv[1], encoding="utf-8"):
    entry = json.loads(line)
    entry.pop("seconds", None)
    print(json.dumps(entry, sort_keys=True, ensure_ascii=False))
EOF
    done
}

config named named '{"photo_name_template": "<ZDDM>/#_<ANGLE>"}'
run named
keep named named

config plain plain '{}'
run plain
keep plain plain

# A run that lost two pictures, a world file and the last 60 journal lines.
cp -a "$work/named" "$work/resumed"
rm "$work/resumed/441302001001GB00012/1_top.png" "$work/resumed/441302001001GB00013/13_top_range.png"
rm "$work/resumed/441302001001GB00021/1_top.pgw"
journal="$work/resumed/.vistrel/journal-0-of-1.jsonl"
head -n -60 "$journal" >"$journal.cut" && mv "$journal.cut" "$journal"
config resumed resumed '{"photo_name_template": "<ZDDM>/#_<ANGLE>", "resume": true}'
run resumed
keep resumed resumed

for shard in 0 1; do
    config "shard$shard" shards "{\"photo_name_template\": \"<ZDDM>/#_<ANGLE>\", \"shard_index\": $shard, \"shard_count\": 2}"
    run "shard$shard"
done
keep shards shards
config shard0again shards '{"photo_name_template": "<ZDDM>/#_<ANGLE>", "shard_index": 0, "shard_count": 2, "resume": true}'
run shard0again
keep shards shards-resumed
echo "kept in $results"
