#!/bin/sh
# Writes a program's manual page from its --help text, so the page cannot say other than the
# program does. A program whose help has a "Commands:" list gets each command's --help as a
# subsection, and every command's "Example:" block in EXAMPLES.
# Usage: packaging/helpman.sh PROGRAM OUTPUT VERSION [SEE-ALSO-PAGE...]
#   e.g. packaging/helpman.sh build/cli/prismet-cli prismet-cli.1 2.0.0 'prismet(1)'
# The help texts follow one layout: "Usage: " lines, paragraphs, "Heading:" lines followed by
# two-space-indented lists ("  term   description", continued deeper) or examples, and
# paragraphs that start with "Exit status".
set -eu

[ $# -ge 3 ] || { echo "Usage: $0 PROGRAM OUTPUT VERSION [SEE-ALSO-PAGE...]" >&2; exit 2; }
program="$1"
output="$2"
version="$3"
shift 3
name="$(basename "$program")"
upper="$(printf '%s' "$name" | tr '[:lower:]' '[:upper:]')"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Qt programs must not look for a display, nor leave leak reports when built with sanitizers.
run_help() {
  QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 "$program" "$@" --help
}

run_help > "$work/top"
[ -s "$work/top" ] || { echo "$0: $program --help printed nothing" >&2; exit 1; }
# The commands are the first words of the "Commands:" list.
commands="$(awk '/^Commands:$/ { inside = 1; next } /^$/ { inside = 0 } inside && /^  [^ ]/ { print $1 }' "$work/top")"

# Turns one help text into roff. part: top (sections) or command (one subsection named by
# `command`); want: synopsis, description, lists, exit, example or command.
cat > "$work/conv.awk" <<'EOF'
function esc(s) {
  gsub(/\\/, "\\e", s)
  gsub(/-/, "\\-", s)
  if (s ~ /^[.']/) s = "\\&" s
  return s
}
# Option and command words bold, placeholders (capitals) italic.
function term(s,    n, w, i, out, word) {
  n = split(s, w, " ")
  out = ""
  for (i = 1; i <= n; i++) {
    word = esc(w[i])
    if (w[i] ~ /^[[(]*[A-Z]/) word = "\\fI" word "\\fR"
    else word = "\\fB" word "\\fR"
    out = out (i > 1 ? " " : "") word
  }
  return out
}
function flush(    first, i, line, kind, head, t, d, k) {
  if (count == 0) return
  first = lines[1]
  if (first ~ /^Usage: /) kind = "synopsis"
  else if (first ~ /^[A-Z][A-Za-z ]*:$/) kind = (first ~ /^Examples?:$/) ? "example" : "list"
  else if (first ~ /^Exit status/) kind = "exit"
  else kind = "description"
  if (want == "command" && kind == "synopsis") kind = "command"
  if (want == "command" && (kind == "description" || kind == "list" || kind == "exit")) kind = "command"

  if (kind == "synopsis" && want == "synopsis") {
    for (i = 1; i <= count; i++) {
      line = lines[i]
      sub(/^Usage: /, "", line)
      sub(/^ +/, "", line)
      print (i > 1 ? ".br\n" : "") synopsis_line(line)
    }
  } else if (kind == "command" && first ~ /^Usage: /) {
    print ".PP"
    for (i = 1; i <= count; i++) {
      line = lines[i]
      sub(/^Usage: /, "", line)
      sub(/^ +/, "", line)
      print (i > 1 ? ".br\n" : "") synopsis_line(line)
    }
  } else if ((kind == "list" && want == "lists") || (kind == "command" && first ~ /^[A-Z][A-Za-z ]*:$/)) {
    head = first
    sub(/:$/, "", head)
    if (want == "lists") print ".SH " toupper(head)
    else print ".PP\n\\fB" esc(head) ":\\fR"
    for (i = 2; i <= count; i++) {
      line = lines[i]
      if (line ~ /^  [^ ]/) {
        t = substr(line, 3)
        d = ""
        k = index(t, "  ")
        if (k > 0) {
          d = substr(t, k)
          t = substr(t, 1, k - 1)
          sub(/^ +/, "", d)
        }
        print ".TP\n" term(t)
        if (d != "") print esc(d)
      } else {
        sub(/^ +/, "", line)
        print esc(line)
      }
    }
  } else if (kind == "example" && want == "example") {
    print ".PP\n.nf"
    for (i = 2; i <= count; i++) {
      line = lines[i]
      sub(/^  /, "", line)
      print esc(line)
    }
    print ".fi"
  } else if ((kind == "description" && want == "description") || (kind == "exit" && want == "exit") ||
             kind == "command") {
    print ".PP"
    literal = 0
    for (i = 1; i <= count; i++) {
      line = lines[i]
      if (line ~ /^  / && !literal) { print ".RS 4\n.nf"; literal = 1 }
      if (line !~ /^  / && literal) { print ".fi\n.RE"; literal = 0 }
      if (literal) sub(/^  /, "", line)
      print esc(line)
    }
    if (literal) print ".fi\n.RE"
  }
  count = 0
}
function synopsis_line(line,    n, w, i, out, bold) {
  n = split(line, w, " ")
  out = ""
  bold = 1
  for (i = 1; i <= n; i++) {
    # The program and the command word are bold, the rest as in a list's term.
    if (bold && w[i] ~ /^[a-z][a-z-]*$/) out = out (i > 1 ? " " : "") "\\fB" esc(w[i]) "\\fR"
    else { bold = 0; out = out (i > 1 ? " " : "") term(w[i]) }
  }
  return out
}
/^$/ { flush(); next }
{ lines[++count] = $0 }
END { flush() }
EOF
conv() { awk -v want="$2" -f "$work/conv.awk" "$1"; }

for command in $commands; do
  run_help "$command" > "$work/command-$command"
  [ -s "$work/command-$command" ] || { echo "$0: $name $command --help printed nothing" >&2; exit 1; }
done

# NAME: the first line of the first paragraph after the usage, up to its first ':' or '.'.
summary="$(awk 'NR > 1 && prev == "" && $0 !~ /^Usage: / && $0 != "" { print; exit } { prev = $0 }' "$work/top" |
  sed -e 's/[:.] .*//' -e 's/[:.]$//' | awk '{ print tolower(substr($0, 1, 1)) substr($0, 2) }')"

{
  echo ".TH $upper 1 \"\" \"Prismet $version\" \"User Commands\""
  echo ".nh"
  echo ".ad l"
  echo ".SH NAME"
  printf '%s \\- %s\n' "$(printf '%s' "$name" | sed 's/-/\\-/g')" "$(printf '%s' "$summary" | sed 's/-/\\-/g')"
  echo ".SH SYNOPSIS"
  conv "$work/top" synopsis
  echo ".SH DESCRIPTION"
  conv "$work/top" description
  conv "$work/top" lists
  for command in $commands; do
    echo ".SS $command"
    conv "$work/command-$command" command
  done
  echo ".SH EXIT STATUS"
  conv "$work/top" exit
  echo ".SH EXAMPLES"
  conv "$work/top" example
  for command in $commands; do
    conv "$work/command-$command" example
  done
  if [ $# -gt 0 ]; then
    echo ".SH SEE ALSO"
    see=""
    for page in "$@"; do
      see="$see${see:+,
}.BR $(printf '%s' "$page" | sed 's/(/ (/')"
    done
    printf '%s\n' "$see"
  fi
} > "$output.tmp"
mv "$output.tmp" "$output"
