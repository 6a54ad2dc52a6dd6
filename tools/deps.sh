#!/usr/bin/env bash
# Installs the Debian packages Prismet needs, skipping the package manager when all are present.
# Usage: tools/deps.sh run|test
set -euo pipefail

run_packages=(cmake ninja-build g++ qt6-base-dev libgl-dev libx11-dev)
test_packages=(libgtest-dev libbenchmark-dev xvfb xauth libgl1-mesa-dri colord-data libgs-common ccache)

wanted=("${run_packages[@]}")
if [ "${1:-run}" = "test" ]; then
  wanted+=("${test_packages[@]}")
fi
if [ "${PRISMET_SANITIZE:-0}" = "1" ]; then
  wanted+=(clang libclang-rt-14-dev)
fi

missing=()
for pkg in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    sudo_cmd=(sudo)
  else
    echo "Missing packages (${missing[*]}) and no sudo: install them as root." >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
