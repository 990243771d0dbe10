#!/usr/bin/env bash
# The main job on the sample data: install what is missing, build (which also
# generates the sample city into build/sample when it is missing), and render
# it with config/render.json.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

BUILD_DIR=build
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$BUILD_DIR" --parallel "$(nproc)" --target Vistrel sample_city

set +e
"$BUILD_DIR/bin/Vistrel" config/render.json
code=$?
set -e

output=$(pwd)/output
echo
echo "Vistrel exited with code $code."
echo "Images:  $output/<parcel>/"
echo "Report:  $output/render_report.csv"
echo "Log:     $(ls -t "$(pwd)"/logs/render_*.log 2>/dev/null | head -n 1)"
exit $code
