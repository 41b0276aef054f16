#!/usr/bin/env bash
# Subtree-run benchmark: owner-name suffix searches and a few others, each with subtree
# runs on and off (off is the trigram-list path), in one process, median wall and CPU
# times of REPEATS alternating runs, with the load average before and after.
#
#   [INDEX=file] bench/search/subtree.sh [COUNT [WORKDIR [REPEATS [LIMIT]]]]
#       defaults: 10000000, /tmp/quarn-bench-search, 5, -1 (-1: every result)
#
# The index is INDEX when given (it is only read), else WORKDIR/COUNT/names.idx, built
# once by bench_make_names when missing (shared with run.sh). BUILD_DIR (default build)
# names the release build directory to use. Results: bench/search/results/.
set -euo pipefail
cd "$(dirname "$0")/../.."
count=${1:-10000000}
work=${2:-/tmp/quarn-bench-search}/$count
repeats=${3:-5}
limit=${4:--1}

build=${BUILD_DIR:-build}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" bench_make_names bench_subtree >/dev/null

index=${INDEX:-$work/names.idx}
if [ ! -s "$index" ]; then
  echo "== building the index of $count names in $work" >&2
  mkdir -p "$work"
  "$build"/bin/bench_make_names "$count" "$work"
fi
cat "$index" >/dev/null  # warm the page cache
"$build"/bin/bench_subtree "$index" "$repeats" "$limit"
