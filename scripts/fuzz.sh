#!/usr/bin/env bash
# Builds the fuzz harnesses of tests/fuzz with clang, libFuzzer, ASan and
# UBSan into build-fuzz and runs each one for a given time, then once more
# under `ulimit -s 256`, which turns any recursion on input into a crash.
# Crash inputs are written into the harness's corpus folder, so the normal
# test suite replays them from then on.
#
#   scripts/fuzz.sh [seconds per run, default 60] [harness ...]
#
# Needs clang and its runtime: apt-get install clang libclang-rt-14-dev
set -euo pipefail
cd "$(dirname "$0")/.."

SECONDS_EACH=${1:-60}
shift || true
HARNESSES=("$@")
if (( ${#HARNESSES[@]} == 0 )); then
  HARNESSES=(fuzz_config fuzz_name_template fuzz_origin_files fuzz_coordinate_system fuzz_dbf_fields fuzz_tile_read fuzz_root_index fuzz_tileset_json fuzz_tile_content)
fi
if ! command -v clang++ >/dev/null 2>&1; then
  echo "error: clang++ not found; install clang and libclang-rt-14-dev" >&2
  exit 1
fi

BUILD_DIR=${FUZZ_BUILD_DIR:-build-fuzz}
FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS="$FLAGS" -DCMAKE_CXX_FLAGS="$FLAGS" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DVISTREL_LIBFUZZER=ON -DVISTREL_BUILD_FRONTEND=OFF
cmake --build "$BUILD_DIR" --parallel "$(nproc)" --target "${HARNESSES[@]}"

# The libraries the harnesses call (OSG, GDAL, Qt) keep memory to the end
# of the process; only crashes, sanitizer reports and timeouts count here.
export ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1
status=0
for harness in "${HARNESSES[@]}"; do
  seeds=tests/fuzz/corpus/$harness
  work=$BUILD_DIR/fuzz-work/$harness
  mkdir -p "$work"
  for stack in normal 256; do
    echo "==== $harness (stack: $stack, ${SECONDS_EACH}s)"
    log="$work/run-$stack.log"
    if ! (
      if [[ $stack != normal ]]; then ulimit -s "$stack"; fi
      "$BUILD_DIR/bin/$harness" "$work" "$seeds" -max_total_time="$SECONDS_EACH" \
        -timeout=25 -rss_limit_mb=4096 -artifact_prefix="$seeds/" -print_final_stats=1
    ) >"$log" 2>&1; then
      status=1
    fi
    grep -E "^(stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==ERROR|SUMMARY)|(crash|timeout|oom|leak)-[0-9a-f]+" \
      "$log" || true
  done
done
exit $status
