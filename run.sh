#!/usr/bin/env bash
# Installs what is missing, builds Prismet and prismet-cli (Release) into build/ and starts Prismet.
# Usage: ./run.sh [profile]
set -euo pipefail

# The profile path is taken relative to where the user ran the script, before moving into the tree.
args=()
if [ $# -gt 0 ]; then
  if [ -e "$1" ]; then
    args=("$(cd "$(dirname "$1")" && pwd)/$(basename "$1")")
  else
    args=("$1")
  fi
fi

cd "$(dirname "$0")"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found: Prismet is a desktop program; without a screen run it as: xvfb-run -a ./run.sh ${args[*]:-}" >&2
  exit 1
fi

tools/deps.sh run
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DPRISMET_BUILD_TESTS=OFF >/dev/null
cmake --build build --target prismet prismet-cli

exec build/prismet "${args[@]}"
