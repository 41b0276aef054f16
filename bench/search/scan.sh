#!/usr/bin/env bash
# Table-scan benchmark: string-table MB/s per pattern (bench_scan), then whole searches
# printing every result into a file against grep doing the same over the names.
#
#   bench/search/scan.sh [COUNT [WORKDIR [REPEATS]]]     defaults: 1000000, /tmp/quarn-bench-scan, 5
#
# BUILD_DIR (default build) names the release build to measure; with BASE_BUILD_DIR set
# (a release build of an older tree that has bench_scan), its numbers come first, for a
# before/after comparison. Times are medians; "cpu" is user + system time, which stays
# steady on a shared machine where wall time does not.
set -euo pipefail
cd "$(dirname "$0")/../.."
count=${1:-1000000}
work=${2:-/tmp/quarn-bench-scan}/$count
repeats=${3:-5}
build=${BUILD_DIR:-build}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" bench_make_names bench_scan quarnsearch >/dev/null

mkdir -p "$work"
if [ ! -s "$work/names.idx" ] || [ ! -s "$work/names.txt" ]; then
  echo "== building the index of $count names in $work" >&2
  "$build"/bin/bench_make_names "$count" "$work" >&2
fi
cat "$work/names.idx" "$work/names.txt" >/dev/null  # warm the page cache for both sides

builds=("$build")
[ -n "${BASE_BUILD_DIR:-}" ] && builds=("$BASE_BUILD_DIR" "$build")

# Median wall and cpu seconds of REPEATS runs of a command writing to $work/out.txt.
median_run() {
  local runs=()
  for _ in $(seq "$repeats"); do
    /usr/bin/time -o "$work/time.txt" -f "%e %U %S" "$@" >"$work/out.txt" 2>/dev/null
    runs+=("$(tail -1 "$work/time.txt")")
  done
  printf '%s\n' "${runs[@]}" | awk '{print $1, $2 + $3}' | sort -n -k2 | awk -v n="$repeats" \
    'NR == int((n + 1) / 2) {printf "%.3f s wall, %.3f s cpu", $1, $2}'
}

for b in "${builds[@]}"; do
  echo "== bench_scan ($b)"
  "$b"/bin/bench_scan "$work/names.idx" "$repeats"
  echo
done

echo "| command | expression | median |"
echo "|---|---|---|"
for expr in '.*' '^[a-z.]+$' 'com'; do
  for b in "${builds[@]}"; do
    echo "| $b/bin/quarnsearch -r -L -1 -s | \`$expr\` | $(median_run "$b"/bin/quarnsearch -l "$work/names.idx" -r -L -1 -s "$expr") |"
  done
  echo "| LC_ALL=C grep -E -i | \`$expr\` | $(LC_ALL=C median_run grep -E -i -e "$expr" "$work/names.txt") |"
done
