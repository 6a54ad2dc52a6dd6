#!/usr/bin/env bash
# The desktop integration as installed: the menu entry and AppStream data pass their validators
# and claim ICC files, the icons sit in the folders of their sizes, the manual pages render
# without warnings and document every command, and the completion offers what the help lists.
# Usage: tst_desktop.sh BUILD-DIR PRISMET-CLI
set -uo pipefail
build="$1"
cli="$2"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
cmake --install "$build" --prefix "$root/usr" >/dev/null || { echo "FAIL: cmake --install"; exit 1; }
share="$root/usr/share"

# Menu entry and AppStream data.
entries=("$share"/applications/*.desktop)
[ ${#entries[@]} -eq 1 ] && [ -f "${entries[0]}" ] || fail "expected one desktop entry, found: ${entries[*]}"
entry="${entries[0]}"
out="$(desktop-file-validate "$entry" 2>&1)" || fail "desktop-file-validate: $out"
[ -z "$out" ] || fail "desktop-file-validate hints: $out"
metainfo=("$share"/metainfo/*.metainfo.xml)
out="$(appstreamcli validate --no-net "${metainfo[0]}" 2>&1)" || fail "appstreamcli validate: $out"
launchable="$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "${metainfo[0]}")"
[ "$launchable" = "$(basename "$entry")" ] || fail "metainfo launches '$launchable', the entry is $(basename "$entry")"
[ "$(basename "${metainfo[0]}" .metainfo.xml)" = "$(basename "$entry" .desktop)" ] ||
  fail "metainfo and entry are named differently"
# What a file manager asks: which entries open an ICC profile.
update-desktop-database "$share/applications"
grep -qx "application/vnd.iccprofile=$(basename "$entry");\?" "$share/applications/mimeinfo.cache" ||
  fail "the MIME cache does not open application/vnd.iccprofile with $(basename "$entry")"
grep -qx 'Exec=prismet %f' "$entry" || fail "the entry does not start 'prismet %f'"

# Every icon the entry names, in a folder of its own size.
icon="$(sed -n 's/^Icon=//p' "$entry")"
sizes=0
for png in "$share"/icons/hicolor/*/apps/"$icon".png; do
  folder="$(basename "$(dirname "$(dirname "$png")")")"
  # The PNG header's width and height, big-endian at bytes 16 and 20.
  read -r width height < <(od -An -tu1 -j16 -N8 "$png" | awk '{ print $3 * 256 + $4, $7 * 256 + $8 }')
  [ "$folder" = "${width}x${height}" ] || fail "$png is ${width}x${height}"
  sizes=$((sizes + 1))
done
[ $sizes -ge 5 ] || fail "only $sizes icon sizes for '$icon'"

# Manual pages: no warnings, and every command of the help with its own subsection and example.
for page in prismet prismet-cli; do
  file="$(ls "$share/man/man1/$page.1"*)"
  warnings="$(MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null)"
  [ -z "$warnings" ] || fail "man $page warns: $warnings"
  text="$(MANWIDTH=80 man -l "$file" 2>/dev/null)"
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" EXAMPLES; do
    [ "$page" = prismet-cli ] && [ "$section" = OPTIONS ] && section=COMMANDS
    grep -qx "$section" <<<"$text" || fail "man $page has no $section"
  done
done
commands="$("$cli" --help | awk '/^Commands:$/ { on = 1; next } /^$/ { on = 0 } on && /^  [^ ]/ { print $1 }')"
[ "$(wc -w <<<"$commands")" -ge 10 ] || fail "prismet-cli --help lists only: $commands"
cli_text="$(MANWIDTH=80 man -l "$share/man/man1/prismet-cli.1"* 2>/dev/null)"
examples="$(sed -n '/^EXAMPLES$/,/^SEE ALSO$/p' <<<"$cli_text")"
for command in $commands; do
  grep -qx "   $command" <<<"$cli_text" || fail "man prismet-cli has no subsection for $command"
  grep -q "^ *prismet-cli $command " <<<"$examples" || fail "man prismet-cli has no example of $command"
  for option in $("$cli" "$command" --help | awk '/^Options:$/ { on = 1; next } /^$/ { on = 0 }
                                               on && /^  -/ { sub(/,$/, "", $1); print $1 }'); do
    grep -q -- "$option" <<<"$cli_text" || fail "man prismet-cli does not mention $command $option"
  done
done

# Completion: (words before the cursor, word at the cursor) -> what must be offered; '!' lists
# what must not be.
completion="$(ls "$share"/bash-completion/completions/prismet-cli)"
folder="$root/profiles"
mkdir -p "$folder/sub"
touch "$folder/a.icc" "$folder/B.ICM" "$folder/c.pf" "$folder/photo.jpg" "$folder/notes.txt"
complete_words() {
  bash --norc -c '
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    _prismet_cli
    printf "%s\n" "${COMPREPLY[@]}"' _ "$completion" "$@"
}
# The table holds patterns such as *srgb: no globbing while reading it.
set -f
while IFS='|' read -r words expected; do
  [ -n "$words" ] || continue
  eval "set -- $words"
  offered="$(complete_words "$@" | sort | tr '\n' ' ')"
  for want in $expected; do
    if [ "${want#!}" != "$want" ]; then
      grep -qF -- " ${want#!} " <<<" $offered" && fail "completing '$words' offers ${want#!}: $offered"
    else
      grep -qF -- " $want " <<<" $offered" || fail "completing '$words' lacks $want: $offered"
    fi
  done
done <<EOF
prismet-cli ch|check
prismet-cli ''|info tag dump transform convert check gamut roundtrip inks dotgain --help
prismet-cli check --min|--min-severity
prismet-cli check --min-severity ''|warning error
prismet-cli info '*s'|*srgb !*lab
prismet-cli transform --profile '*l'|*lab *lab2 !*srgb
prismet-cli gamut --compare $folder/|$folder/a.icc $folder/B.ICM $folder/c.pf $folder/sub !$folder/notes.txt !$folder/photo.jpg
prismet-cli convert $folder/|$folder/photo.jpg !$folder/a.icc
prismet-cli convert in.png out.tif --intent ''|0 perceptual absolute
EOF
set +f
# Every option a command's help lists is offered after '--'.
for command in $commands; do
  offered=" $(complete_words prismet-cli "$command" - | tr '\n' ' ')"
  for option in $("$cli" "$command" --help | awk '/^Options:$/ { on = 1; next } /^$/ { on = 0 }
                                               on && /^  -/ { for (i = 1; i <= 2; i++) if ($i ~ /^-/) { sub(/,$/, "", $i); print $i } }'); do
    grep -qF -- " $option " <<<"$offered" || fail "completing '$command -' lacks $option"
  done
done

[ $failures -eq 0 ] && echo "PASS" || { echo "$failures failures"; exit 1; }
