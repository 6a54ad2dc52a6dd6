#!/usr/bin/env bash
# Builds the Debian package prismet_<version>_<arch>.deb: a fresh build of the tree in
# build-package/ (optimised with debugging information, as Debian builds; CPack strips the
# programs), installed under /usr by CPack with the runtime dependencies dpkg-shlibdeps finds for
# the built programs. The compiler cache is shared with ./test.sh's build.
# Usage: tools/package.sh [OUTPUT-FOLDER]   (default: the current folder)
set -euo pipefail
source_dir="$(cd "$(dirname "$0")/.." && pwd)"
mkdir -p "${1:-.}"
out="$(cd "${1:-.}" && pwd)"

"$source_dir/tools/deps.sh" package

build="$source_dir/build-package"
rm -rf "$build"
export CCACHE_BASEDIR="$source_dir" CCACHE_NOHASHDIR=1
cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPRISMET_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" >&2
(cd "$build" && cpack -G DEB -B "$build/package" >&2)
deb="$(ls "$build"/package/prismet_*.deb)"
cp "$deb" "$out/"
rm -rf "$build"
echo "$out/$(basename "$deb")"
