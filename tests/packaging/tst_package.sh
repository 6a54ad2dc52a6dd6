#!/usr/bin/env bash
# The Debian package built from the tree holds the programs, the menu entry, the icons, the manual
# pages, the completion and the manual, and depends on the Qt, libtiff and libjpeg runtime
# packages. Building it takes minutes: it runs only with PRISMET_PACKAGE_TEST=1.
set -uo pipefail
if [ "${PRISMET_PACKAGE_TEST:-0}" != 1 ]; then
  echo "Skipped: building the Debian package takes minutes; run with PRISMET_PACKAGE_TEST=1."
  exit 77
fi
source_dir="$(cd "$(dirname "$0")/../.." && pwd)"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
deb="$("$source_dir/tools/package.sh" "$out" | tail -1)" || { echo "FAIL: tools/package.sh"; exit 1; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

case "$(basename "$deb")" in
  prismet_*_"$(dpkg --print-architecture)".deb) ;;
  *) fail "package named $(basename "$deb")" ;;
esac
files="$(dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's:^\./:/:')"
for wanted in /usr/bin/prismet /usr/bin/prismet-cli /usr/share/applications/com.corvane.Prismet.desktop \
              /usr/share/metainfo/com.corvane.Prismet.metainfo.xml \
              /usr/share/icons/hicolor/48x48/apps/prismet.png /usr/share/icons/hicolor/256x256/apps/prismet.png \
              /usr/share/icons/hicolor/scalable/apps/prismet.svg \
              /usr/share/man/man1/prismet.1.gz /usr/share/man/man1/prismet-cli.1.gz \
              /usr/share/bash-completion/completions/prismet-cli /usr/share/doc/prismet/manual.pdf; do
  grep -qx -- "$wanted" <<<"$files" || fail "the package lacks $wanted"
done
depends="$(dpkg-deb -f "$deb" Depends)"
for library in 'libqt6widgets6' 'libqt6core6' 'libtiff[0-9]' 'libjpeg62-turbo'; do
  grep -qE "(^|, )$library" <<<"$depends" || fail "Depends names no $library: $depends"
done

[ $failures -eq 0 ] && echo "PASS" || { echo "$failures failures"; exit 1; }
