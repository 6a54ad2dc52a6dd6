#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ (or the folder given).
# Usage: fuzz/build.sh [build-dir]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${1:-$root/build-fuzz}"
PRISMET_SANITIZE=1 "$root/tools/deps.sh" run
cmake -S "$root/fuzz" -B "$build_dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" -j "${FUZZ_JOBS:-2}"
