#!/usr/bin/env bash
# Index build benchmark: 1,000,000 and (with "large") 10,000,000 generated observations.
# Usage: bench/forge/run.sh [large]   (expects a release build in build/)
set -euo pipefail
cd "$(dirname "$0")/../.."
ninja -C build bench_build gramforge >/dev/null
work=${TMPDIR:-/tmp}/gfbench
mkdir -p "$work"
build/bin/bench_build 1000000 256 "$work"
if [ "${1:-}" = large ]; then
  build/bin/bench_build 10000000 256 "$work" | tail -1
fi
