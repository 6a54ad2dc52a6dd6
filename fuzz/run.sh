#!/usr/bin/env bash
# Runs one fuzz target on its seed corpus for a while (default 600 s) with the allocation limits
# every input must respect; new inputs collect in build-fuzz/corpus/<target>, findings in
# build-fuzz/artifacts/<target>/, the full log in build-fuzz/logs/<target>/fuzz-0.log.
# Usage: fuzz/run.sh profile|transform|cgats|image [seconds]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
target="$1"
seconds="${2:-600}"
build_dir="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
work="$build_dir/corpus/$target"
artifacts="$build_dir/artifacts/$target"
logs="$build_dir/logs/$target"
mkdir -p "$work" "$artifacts" "$logs"
# libFuzzer writes a job's output to fuzz-0.log in the current folder.
cd "$logs"
# No input of at most 1 MiB may make the engine allocate more than 256 MiB.
status=0
"$build_dir/${target}_fuzzer" "$work" "$root/fuzz/corpus/$target" \
  -jobs=1 -workers=1 -max_total_time="$seconds" -max_len=1048576 \
  -malloc_limit_mb=256 -rss_limit_mb=1024 -timeout=60 \
  -artifact_prefix="$artifacts/" -print_final_stats=1 || status=$?
tail -n 25 "$logs/fuzz-0.log"
exit $status
