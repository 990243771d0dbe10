#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and runs with.
# Quick when everything is already there: only missing packages trigger apt.
#
#   install-deps.sh [group...]        installs the groups (all three by default)
#   install-deps.sh --print group...  prints the groups' packages, one a line
#   install-deps.sh --linked-by PROG  prints the packages of the shared
#                                     libraries PROG links (they must be
#                                     installed); the cluster image's run-time
#                                     stage installs these and the runtime group
#
# Groups: build (what building Vistrel needs), runtime (what Vistrel loads at
# run time beyond the libraries it links), tools (Tavrin, the tests, the
# cluster and container tests, the lint).
set -euo pipefail

BUILD=(
  build-essential cmake ninja-build pkg-config ccache
  libopenscenegraph-dev
  libgdal-dev
  nlohmann-json3-dev
  libpng-dev libjpeg62-turbo-dev zlib1g-dev libdeflate-dev libxxhash-dev
  libcairo2-dev libpango1.0-dev
  libtinygltf-dev libdraco-dev libmeshoptimizer-dev libwebp-dev
  libegl-dev libgles-dev libgl-dev
)
# Mesa's EGL and its drivers (llvmpipe and the GPUs' own), opened by libEGL;
# the font of the marks drawn on pictures (annotate), found through fontconfig.
RUNTIME=(
  libegl-mesa0 libgl1-mesa-dri
  fonts-noto-cjk
)
TOOLS=(
  openscenegraph gdal-bin
  qt6-base-dev qt6-translations-l10n qt6-image-formats-plugins
  fonts-wqy-microhei
  googletest libgtest-dev
  poppler-utils python3-yaml yamllint
  slurm-wlm munge
  podman runc catatonit debootstrap
  xvfb xauth
  clang-format clang-tidy
)

packages_of() {
  local group
  for group in "$@"; do
    case "$group" in
      build) printf '%s\n' "${BUILD[@]}" ;;
      runtime) printf '%s\n' "${RUNTIME[@]}" ;;
      tools) printf '%s\n' "${TOOLS[@]}" ;;
      *)
        echo "error: unknown package group \"$group\" (build, runtime, tools)" >&2
        return 1
        ;;
    esac
  done
}

# The package of every library PROG names as NEEDED (followed through
# symbolic links, and through /usr for the merged /lib).
linked_by() {
  local program=$1 lib path owner
  [[ -x "$program" ]] || { echo "error: no program at $program" >&2; return 1; }
  for lib in $(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    path=$(ldd "$program" | awk -v lib="$lib" '$1 == lib { print $3 }')
    [[ -n "$path" && "$path" != "not" ]] || { echo "error: $program: $lib is not found" >&2; return 1; }
    path=$(readlink -f "$path")
    owner=$(dpkg -S "$path" 2>/dev/null || dpkg -S "/usr$path" 2>/dev/null || dpkg -S "${path#/usr}" 2>/dev/null) ||
      { echo "error: no installed package holds $path ($lib)" >&2; return 1; }
    echo "${owner%%:*}"
  done | sort -u
}

case "${1:-}" in
  --print)
    shift
    packages_of "$@"
    exit 0
    ;;
  --linked-by)
    linked_by "${2:?usage: install-deps.sh --linked-by PROGRAM}"
    exit 0
    ;;
esac

groups=("$@")
((${#groups[@]} > 0)) || groups=(build runtime tools)
packages_of "${groups[@]}" >/dev/null
mapfile -t PACKAGES < <(packages_of "${groups[@]}")

missing=()
for pkg in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  if [[ "$status" != "install ok installed" ]]; then
    missing+=("$pkg")
  fi
done

if (( ${#missing[@]} == 0 )); then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
SUDO=""
if [[ $(id -u) -ne 0 ]]; then
  if command -v sudo >/dev/null 2>&1; then
    SUDO="sudo"
  else
    echo "error: packages missing (${missing[*]}) and not running as root; install them or run as root." >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
