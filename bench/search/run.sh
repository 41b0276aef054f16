#!/usr/bin/env bash
# Search benchmark: builds an owner-name index of COUNT realistic names (once per
# COUNT; kept in WORKDIR), then times a fixed list of analyst expressions against it and
# a grep -E -i scan of the same names.
#
#   bench/search/run.sh [COUNT [WORKDIR [REPEATS]]]     defaults: 10000000, /tmp/quarn-bench-search, 7
#
# BUILD_DIR (default build) names the release build directory to use.
set -euo pipefail
cd "$(dirname "$0")/../.."
count=${1:-10000000}
work=${2:-/tmp/quarn-bench-search}/$count
repeats=${3:-7}

build=${BUILD_DIR:-build}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" bench_make_names bench_search >/dev/null

mkdir -p "$work"
if [ ! -s "$work/names.idx" ] || [ ! -s "$work/names.txt" ]; then
  echo "== building the index of $count names in $work" >&2
  /usr/bin/time -f "index build: %e s, peak %M KB" "$build"/bin/bench_make_names "$count" "$work"
fi
ls -l "$work"/names.idx "$work"/names.txt >&2
# Warm the page cache for both sides alike.
cat "$work/names.idx" "$work/names.txt" >/dev/null
"$build"/bin/bench_search "$work/names.idx" "$work/names.txt" "$repeats"
