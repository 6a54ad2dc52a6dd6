#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
# Usage: ./test.sh [--sanitize | --tsan]
set -euo pipefail
cd "$(dirname "$0")"

build_dir=build-tests
cmake_args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DPRISMET_BUILD_TESTS=ON)
if [ "${1:-}" = "--sanitize" ]; then
  export PRISMET_SANITIZE=1
  build_dir=build-sanitize
  cmake_args=(-DCMAKE_BUILD_TYPE=Debug -DPRISMET_BUILD_TESTS=ON -DPRISMET_SANITIZE=ON)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  # Qt, fontconfig and X11 keep some memory until exit; only their internals are listed there.
  export LSAN_OPTIONS=suppressions="$PWD/tools/lsan-qt.supp":print_suppressions=0
fi
tools/deps.sh test

# Compiler cache keyed on paths relative to the checkout, so that a fresh clone elsewhere reuses it.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1

# ThreadSanitizer: the engine (no Qt), the worker pool and the tests that convert on two threads.
if [ "${1:-}" = "--tsan" ]; then
  cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPRISMET_BUILD_TESTS=ON -DPRISMET_BUILD_APP=OFF \
    -DPRISMET_TSAN=ON >/dev/null
  cmake --build build-tsan -j "$(nproc)" --target common_workers_workerpool_test
  cd build-tsan
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest --output-on-failure -L tsan
  exit $?
fi

# Includes point down the layers (engine, shared libraries, command line and window).
tools/layers.sh
cmake -S . -B "$build_dir" -G Ninja "${cmake_args[@]}" >/dev/null
# Every package the build uses must come from tools/deps.sh, or a fresh machine cannot build it:
# checked before compiling, and for the built programs' libraries after.
tools/depguard.sh configure "$build_dir" xvfb-run xauth Xvfb
cmake --build "$build_dir" -j "$(nproc)"
tools/depguard.sh programs "$build_dir"

# GUI tests need a display: give them a virtual one, and keep them away from the user's settings.
export QT_QPA_PLATFORM=xcb
export XDG_CONFIG_HOME="$(mktemp -d)"
export XDG_DATA_HOME="$(mktemp -d)"
export XDG_RUNTIME_DIR="$(mktemp -d)"
chmod 700 "$XDG_RUNTIME_DIR"
trap 'rm -rf "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"' EXIT
export LIBGL_ALWAYS_SOFTWARE=1
cd "$build_dir"

# Engine tests run in parallel; GUI tests one at a time, since they share the settings folder.
status=0
ctest --output-on-failure -j "$(nproc)" -LE gui || status=1
# Under the sanitizers, the GUI tests skip leak checks: D-Bus, fontconfig and GL keep allocations
# to the end of the process that are theirs, not ours.
gui_asan_options="${ASAN_OPTIONS:-}"
if [ -n "$gui_asan_options" ]; then
  gui_asan_options="${gui_asan_options/detect_leaks=1/detect_leaks=0}"
fi
ASAN_OPTIONS="$gui_asan_options" xvfb-run -a -s "-screen 0 1920x1080x24" ctest --output-on-failure -L gui || status=1
exit $status
