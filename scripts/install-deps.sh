#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and runs with.
# Quick when everything is already there: only missing packages trigger apt.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libopenscenegraph-dev openscenegraph
  libgdal-dev gdal-bin
  nlohmann-json3-dev
  qt6-base-dev qt6-translations-l10n
  libpng-dev libjpeg62-turbo-dev zlib1g-dev libdeflate-dev libxxhash-dev
  libegl-dev libegl-mesa0 libgl1-mesa-dri libgles-dev libgl-dev
  fonts-wqy-microhei
  googletest libgtest-dev
  poppler-utils python3-yaml yamllint
  slurm-wlm munge
  xvfb xauth
  clang-format clang-tidy
)

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
