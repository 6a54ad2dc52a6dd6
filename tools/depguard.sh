#!/usr/bin/env bash
# Fails when the build uses a Debian package that tools/deps.sh neither lists nor pulls in through
# the dependencies of a listed package: what works here by accident must not break a fresh machine.
# Usage: tools/depguard.sh configure <build-dir> [command...]
#          after CMake configured, before compiling: the config file of every CMake package in the
#          cache, every file the link lines name, the build tools and the commands given
#          (checked against the run and test lists)
#        tools/depguard.sh programs <build-dir>
#          after building: the shared libraries of prismet and prismet-cli (run list) and of every
#          test program (run and test lists)
set -euo pipefail

usage() {
  echo "Usage: tools/depguard.sh configure|programs <configured-build-dir> [command...]" >&2
  exit 2
}
mode="${1:-}"
build="${2:-}"
[ -n "$mode" ] && [ -n "$build" ] && [ -f "$build/CMakeCache.txt" ] || usage
shift 2
source_dir="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "$build" && pwd)"
cache_dir="$build/depguard"
mkdir -p "$cache_dir"
cd "$source_dir"

# The installed packages a list pulls in through Pre-Depends and Depends, as apt would on a fresh
# machine: of alternatives the first one installed here, of a virtual name its provider when only
# one is installed. Cached until the list or dpkg's state changes.
closure() {
  local list="$1" seeds key file
  seeds="$(tools/deps.sh --list "$list" | tr '\n' ' ')"
  key="$( (echo "$seeds"; stat -c %Y /var/lib/dpkg/status) | md5sum | cut -d' ' -f1)"
  file="$cache_dir/closure-$list-$key"
  if [ ! -f "$file" ]; then
    rm -f "$cache_dir/closure-$list-"*
    # Tab-separated: Depends lists alternatives with "|".
    dpkg-query -W -f='${db:Status-Abbrev}\t${Package}\t${Provides}\t${Pre-Depends}, ${Depends}\n' |
      awk -F'\t' -v seeds="$seeds" '
        function bare(s) { sub(/\(.*/, "", s); sub(/\[.*/, "", s); sub(/:.*/, "", s); gsub(/[ \t]/, "", s); return s }
        $1 ~ /^ii/ {
          installed[$2] = 1; deps[$2] = $4
          n = split($3, p, ","); for (i = 1; i <= n; i++) { v = bare(p[i]); if (v != "") providers[v] = providers[v] " " $2 }
        }
        END {
          n = split(seeds, queue, " "); head = 1
          for (i = 1; i <= n; i++) seen[queue[i]] = 1
          while (head <= n) {
            pkg = queue[head++]
            if (!(pkg in installed)) continue
            print pkg
            m = split(deps[pkg], items, ",")
            for (i = 1; i <= m; i++) {
              k = split(items[i], alt, "|"); pick = ""
              for (j = 1; j <= k && pick == ""; j++) {
                name = bare(alt[j]); if (name == "") continue
                if (name in installed) pick = name
                else if (split(providers[name], prov, " ") == 1) pick = prov[1]
              }
              if (pick != "" && !(pick in seen)) { seen[pick] = 1; queue[++n] = pick }
            }
          }
        }' | sort -u > "$file.tmp"
    mv "$file.tmp" "$file"
  fi
  echo "$file"
}

# Reads "file<TAB>used-by" lines and prints "file<TAB>used-by<TAB>path" for the file and every link
# on the way to its target (the build uses /usr/bin/c++ through g++'s link as much as the compiler
# behind it), each path also on the other side of the /usr merge, since dpkg knows a file only by
# the path its package installed it under. One stat call per link level keeps it fast.
link_chains() {
  awk -F'\t' '{ print $1 "\t" $2 "\t" $1 }' | {
    local level current next
    current="$(cat)"
    for level in 1 2 3 4 5 6 7 8; do
      [ -z "$current" ] && break
      printf '%s\n' "$current"
      next="$(cut -f3 <<<"$current" | sort -u | tr '\n' '\0' | xargs -0 stat -c '%F|%n|%N' 2>/dev/null |
              awk -F'|' '$1 == "symbolic link" { t = $3; sub(/^.* -> /, "", t); gsub(/^\047|\047$/, "", t); print $2 "\t" t }')"
      [ -z "$next" ] && break
      current="$(awk -F'\t' '
        function norm(p,   n, i, parts, out, k) {
          n = split(p, parts, "/"); k = 0
          for (i = 1; i <= n; i++) {
            if (parts[i] == "" || parts[i] == ".") continue
            if (parts[i] == "..") { if (k > 0) k--; continue }
            out[++k] = parts[i]
          }
          p = ""; for (i = 1; i <= k; i++) p = p "/" out[i]
          return p
        }
        NR == FNR { dir = $1; sub(/\/[^\/]*$/, "", dir); target[$1] = ($2 ~ /^\//) ? norm($2) : norm(dir "/" $2); next }
        ($3 in target) { print $1 "\t" $2 "\t" target[$3] }' <(printf '%s\n' "$next") - <<<"$current")"
    done
  } | awk -F'\t' '{ print; p = $3
      if (p ~ /^\/usr\/(lib|bin|sbin|lib64)\//) print $1 "\t" $2 "\t" substr(p, 5)
      else if (p ~ /^\/(lib|bin|sbin|lib64)\//) print $1 "\t" $2 "\t/usr" p }'
}

# Checks "file<TAB>used-by" lines on standard input against the closure of a list; hint says where
# a missing package belongs.
check() {
  local list="$1" hint="$2" allowed chains owned
  allowed="$(closure "$list")"
  chains="$(sort -u | link_chains)"
  [ -z "$chains" ] && return 0
  owned="$(cut -f3 <<<"$chains" | sort -u | tr '\n' '\0' | LC_ALL=C xargs -0 dpkg-query -S 2>/dev/null |
           grep -v '^diversion by' || true)"
  awk -F'\t' -v hint="$hint" '
    FILENAME == ARGV[1] { ok[$0] = 1; next }
    FILENAME == ARGV[2] { i = index($0, ": "); if (i) { s = substr($0, 1, i - 1); gsub(/:[a-z0-9]+/, "", s); owner[substr($0, i + 2)] = s }; next }
    {
      if (!($1 in user)) { user[$1] = $2; order[++n] = $1 }
      if (!($3 in owner)) next
      pkgs = owner[$3]; owned[$1] = 1
      k = split(pkgs, alt, ", "); good = 0
      for (j = 1; j <= k; j++) if (alt[j] in ok) good = 1
      if (!good && !(pkgs in missing)) missing[pkgs] = $1
    }
    END {
      status = 0
      for (i = 1; i <= n; i++) {
        f = order[i]
        if (!(f in owned)) {
          printf "depguard: %s uses %s, which no Debian package provides: a fresh machine will not have it\n", user[f], f
          status = 1
        }
      }
      shown = 0
      for (pkgs in missing) {
        status = 1
        if (++shown > 6) continue
        f = missing[pkgs]; gsub(/, /, " or ", pkgs)
        printf "depguard: %s uses %s from the Debian package %s, which tools/deps.sh neither lists nor pulls in: add it to the %s in tools/deps.sh\n", user[f], f, pkgs, hint
      }
      if (shown > 6) printf "depguard: and %d more packages like these\n", shown - 6
      exit status
    }' "$allowed" <(printf '%s\n' "$owned") <(printf '%s\n' "$chains") >&2
}

inside_tree() {
  case "$1" in "$source_dir"/*|"$build"/*) return 0 ;; esac
  return 1
}

case "$mode" in
  configure)
    {
      # CMake packages found in config mode: <Name>_DIR points at the folder of the config file.
      grep -E '^[A-Za-z0-9_]+_DIR:PATH=/' "$build/CMakeCache.txt" | while IFS= read -r line; do
        name="${line%%_DIR:PATH=*}"
        dir="${line#*:PATH=}"
        inside_tree "$dir/" && continue
        lower="${name,,}"
        for f in "$dir/${name}Config.cmake" "$dir/${lower}-config.cmake"; do
          if [ -f "$f" ]; then printf '%s\tCMake package %s\n' "$f" "$name"; break; fi
        done
      done
      # Files the link lines name (libraries found by find modules rather than config files).
      grep -hoE '^ +LINK_LIBRARIES = .*' "$build/build.ninja" | tr ' ' '\n' | grep '^/' | sort -u |
        while IFS= read -r f; do
          inside_tree "$f" || printf '%s\tthe link step\n' "$f"
        done
      # The tools that build, and the commands the caller runs.
      for entry in CMAKE_COMMAND CMAKE_CXX_COMPILER CMAKE_MAKE_PROGRAM CCACHE_PROGRAM; do
        f="$(grep -E "^$entry:[A-Z]+=/" "$build/CMakeCache.txt" | head -1 | cut -d= -f2- || true)"
        [ -n "$f" ] && printf '%s\tthe build (%s)\n' "$f" "$entry"
      done
      for cmd in "$@"; do
        f="$(command -v "$cmd" || true)"
        if [ -z "$f" ]; then
          echo "depguard: the command $cmd is missing: add its package to tools/deps.sh" >&2
          exit 1
        fi
        printf '%s\tthe command %s\n' "$f" "$cmd"
      done
    } | check test "run list (or the test list, if only the tests need it)"
    ;;
  programs)
    # Built programs: ELF executables in the build folder and its first level (tests/).
    run_programs=()
    test_programs=()
    while IFS= read -r -d '' exe; do
      magic=""
      LC_ALL=C read -r -N 4 magic <"$exe" 2>/dev/null || true
      [ "$magic" = $'\x7fELF' ] || continue
      case "${exe##*/}" in
        prismet|prismet-cli) run_programs+=("$exe") ;;
        *) test_programs+=("$exe") ;;
      esac
    done < <(find "$build" -maxdepth 2 -path "$build/CMakeFiles" -prune -o -type f -perm -u+x -print0)
    # "library<TAB>program" per shared library; a library the loader cannot find is named at once.
    libraries() {
      LC_ALL=C ldd "$@" 2>/dev/null | awk -v one="${1##*/}" '
        BEGIN { exe = one; status = 0 }
        /^[^ \t].*:$/ { exe = $0; sub(/:$/, "", exe); sub(/.*\//, "", exe); next }
        / => not found/ { print "depguard: " exe " needs " $1 ", which is not installed" > "/dev/stderr"; status = 1; next }
        $2 == "=>" && $3 ~ /^\// { print $3 "\t" exe; next }
        $1 ~ /^\// { print $1 "\t" exe }
        END { exit status }'
    }
    status=0
    if [ ${#run_programs[@]} -gt 0 ]; then
      libraries "${run_programs[@]}" | check run "run list" || status=1
    fi
    if [ ${#test_programs[@]} -gt 0 ]; then
      libraries "${test_programs[@]}" | check test "test list (or the run list, if the program needs it too)" || status=1
    fi
    exit $status
    ;;
  *) usage ;;
esac
