#!/usr/bin/env bash
# Checks the C++ sources of renderer/ and frontend/: their layout against
# .clang-format, and .clang-tidy's checks (bug-prone constructs, function
# size) against a build folder's compile_commands.json.
#   scripts/lint.sh [build-folder]      (default: build)
# LINT_FIX=1 rewrites the layout in place instead of checking it;
# LINT_TIDY=0 checks the layout only.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${1:-${BUILD_DIR:-build}}
mapfile -t sources < <(git ls-files 'renderer/*.cpp' 'renderer/*.h' 'frontend/*.cpp' 'frontend/*.h')

if [[ "${LINT_FIX:-0}" == 1 ]]; then
  clang-format -i "${sources[@]}"
  exit 0
fi

echo "clang-format: ${#sources[@]} files"
clang-format --dry-run --Werror "${sources[@]}"

if [[ "${LINT_TIDY:-1}" == 0 ]]; then
  echo "lint: layout clean (clang-tidy not run)"
  exit 0
fi
if [[ ! -f "$BUILD_DIR/compile_commands.json" ]]; then
  echo "error: $BUILD_DIR/compile_commands.json is missing; build first (scripts/test.sh)." >&2
  exit 1
fi
mapfile -t units < <(git ls-files 'renderer/*.cpp' 'frontend/*.cpp')
echo "clang-tidy: ${#units[@]} files"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! printf '%s\n' "${units[@]}" | xargs -P "$(nproc)" -n 4 clang-tidy -p "$BUILD_DIR" --quiet >"$log" 2>&1; then
  grep -v -E '^[0-9]+ warnings? (generated|treated)|^Suppressed|^Use -header-filter' "$log" >&2 || true
  echo "clang-tidy found problems." >&2
  exit 1
fi
echo "lint: clean"
