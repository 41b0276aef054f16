#!/usr/bin/env bash
# Subtree-run benchmark: suffix and other owner-name searches with the runs on and off,
# over an index of COUNT generated names (built once per COUNT by bench_make_names and
# kept in WORKDIR, shared with run.sh).
#
#   bench/search/subtree.sh [COUNT [WORKDIR [REPEATS [LIMIT]]]]
#       defaults: 1000000, /tmp/quarn-bench-search, 7, 10000 (-1: no limit)
#
# BUILD_DIR (default build) names the release build directory to use.
set -euo pipefail
cd "$(dirname "$0")/../.."
count=${1:-1000000}
work=${2:-/tmp/quarn-bench-search}/$count
repeats=${3:-7}
limit=${4:-10000}

build=${BUILD_DIR:-build}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" bench_make_names bench_subtree >/dev/null

mkdir -p "$work"
if [ ! -s "$work/names.idx" ]; then
  echo "== building the index of $count names in $work" >&2
  "$build"/bin/bench_make_names "$count" "$work"
fi
cat "$work/names.idx" >/dev/null
"$build"/bin/bench_subtree "$work/names.idx" "$repeats" "$limit"
