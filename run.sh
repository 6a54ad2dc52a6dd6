#!/usr/bin/env bash
# Installs what is missing, builds Prismet (Release) into build/ and starts it.
# Usage: ./run.sh [profile]
set -euo pipefail
cd "$(dirname "$0")"
tools/deps.sh run

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DPRISMET_BUILD_TESTS=OFF >/dev/null
cmake --build build --target prismet prismet-cli 2>/dev/null || cmake --build build --target prismet

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found: run Prismet under a display, for example: xvfb-run -a ./run.sh $*" >&2
  exit 1
fi
exec build/prismet "$@"
