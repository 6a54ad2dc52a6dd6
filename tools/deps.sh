#!/usr/bin/env bash
# Installs the Debian packages Prismet needs, skipping the package manager when all are present.
# Usage: tools/deps.sh run|test|package          install what is missing
#        tools/deps.sh --list run|test|package   print the packages that would be wanted, one a line
# PRISMET_SANITIZE=1 adds the sanitizer and fuzzing compilers to either list.
# tools/depguard.sh reads these lists: a package the build uses must be here or be pulled in by one.
set -euo pipefail

# The window and the command-line tool (Qt's OpenGL module is only recommended by qt6-base-dev);
# the image readers use libtiff, libjpeg-turbo and zlib directly.
run_packages=(cmake ninja-build g++ qt6-base-dev libqt6opengl6-dev libgl-dev libx11-dev libtiff-dev libjpeg62-turbo-dev zlib1g-dev)
# Tests, benchmarks, the virtual display and the system profiles the tests read.
test_packages=(libgtest-dev libbenchmark-dev xvfb xauth libgl1-mesa-dri colord-data libgs-common ccache
  desktop-file-utils appstream man-db groff-base)
# tools/package.sh: CPack's Debian generator finds the programs with file and their libraries'
# packages with dpkg-shlibdeps.
package_packages=(dpkg-dev file)
# clang and its runtimes (libFuzzer, sanitizers) for fuzz/build.sh.
sanitize_packages=(clang libclang-rt-14-dev)

list_only=0
if [ "${1:-}" = "--list" ]; then
  list_only=1
  shift
fi

wanted=("${run_packages[@]}")
case "${1:-run}" in
  test) wanted+=("${test_packages[@]}") ;;
  package) wanted+=("${package_packages[@]}") ;;
esac
if [ "${PRISMET_SANITIZE:-0}" = "1" ]; then
  wanted+=("${sanitize_packages[@]}")
fi

if [ $list_only -eq 1 ]; then
  printf '%s\n' "${wanted[@]}"
  exit 0
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
