#!/usr/bin/env bash
# The main job on the sample data: install, build, generate the sample city
# when it is missing, and render it with config/render.json.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

BUILD_DIR=build
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$BUILD_DIR" --parallel "$(nproc)"

set +e
"$BUILD_DIR/bin/Vistrel" config/render.json
code=$?
set -e
echo
echo "Vistrel exited with code $code."
echo "Log files: $(pwd)/logs"
exit $code
