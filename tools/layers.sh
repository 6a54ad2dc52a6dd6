#!/usr/bin/env bash
# Checks that #include lines point down the layers: the engine includes nothing of ours, the shared
# libraries neither the command line nor the window, the command line not the window, and inside the
# window every folder only the floors below it (widgets, then the subsystems, then the overview
# with the viewer dispatch, then the app). Prints each include that runs up and exits 1.
# Usage: tools/layers.sh [source root]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

# Each source folder and what it may include besides itself (the engine's headers count as src).
rules='
src
common/signatures src
common/workers     src
common/analysis    src common/signatures
common/audit       src common/signatures common/analysis
imaging            src common/*
cli                src common/* imaging
window/widgets     src common/* imaging
window/viewers     src common/* imaging window/widgets
window/analyses    src common/* imaging window/widgets
window/proofing    src common/* imaging window/widgets
window/audit       src common/* imaging window/widgets
window/overview    src common/* imaging window/widgets window/viewers window/analyses
window/app         src common/* imaging window/*
'

folders=$(awk 'NF { print $1 }' <<<"$rules")
status=0
# A folder of sources the rules do not name would go unchecked.
for dir in $(find common window -mindepth 1 -maxdepth 1 -type d 2>/dev/null | sort); do
  grep -qx "$dir" <<<"$folders" || { echo "layers: $dir has no place in tools/layers.sh" >&2; status=1; }
done

files=()
for folder in $folders; do
  [ -d "$folder" ] && files+=("$folder"/*.cpp "$folder"/*.h)
done
grep -HnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' "${files[@]}" 2>/dev/null | awk -v rules="$rules" '
  BEGIN {
    n = split(rules, lines, "\n")
    for (i = 1; i <= n; i++) if (split(lines[i], w, " ") > 0) {
      allowed[w[1]] = ""
      for (j = 2; j <= length(w); j++) allowed[w[1]] = allowed[w[1]] " " w[j]
    }
  }
  {
    split($0, part, ":"); file = part[1]; line = part[2]
    folder = file; sub(/\/[^\/]*$/, "", folder)
    include = $0; sub(/^[^<"]*[<"]/, "", include); sub(/[">].*$/, "", include)
    if (include == "krm.h" || include == "krm_internal.h") target = "src"
    else if (include ~ /^(common|window)\/[^\/]+\//) { target = include; sub(/\/[^\/]*$/, "", target) }
    else if (include ~ /^(src|imaging|cli)\//) { target = include; sub(/\/.*$/, "", target) }
    else next
    if (target == folder) next
    split(allowed[folder], permitted, " ")
    ok = 0
    for (k in permitted) {
      pattern = permitted[k]
      if (pattern ~ /\/\*$/) { prefix = substr(pattern, 1, length(pattern) - 1); if (index(target, prefix) == 1) ok = 1 }
      else if (pattern == target) ok = 1
    }
    if (!ok) { printf "layers: %s:%s includes %s, from %s, above %s\n", file, line, include, target, folder > "/dev/stderr"; bad = 1 }
  }
  END { exit bad }
' || status=1
exit $status
