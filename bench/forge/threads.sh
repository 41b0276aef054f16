#!/usr/bin/env bash
# Build time by thread count, on the corpus bench/compare times COPY + CREATE INDEX on:
# gramforge -m 256 builds the owner-name index alone and then with the rdata index,
# with --threads 1 and 2, each REPEATS times (default 3); one table row per run with the
# load average at its start, since the machine may be shared.
# Usage: bench/forge/threads.sh [COUNT]   (COUNT names, default 1000000; release build
# in build/; the corpus lives under WORK, default /tmp/quarn-compare, as for bench/compare)
set -euo pipefail
cd "$(dirname "$0")/../.."
count=${1:-1000000}
repeats=${REPEATS:-3}
dir=${WORK:-/tmp/quarn-compare}/$count
ninja -C build -j2 gramforge bench_compare_corpus >/dev/null
mkdir -p "$dir"
if [ ! -s "$dir/corpus.json" ]; then
  echo "== generating $count names in $dir" >&2
  build/bin/bench_compare_corpus "$count" "$dir"
fi
echo "| names | indexes | threads | build s | peak RSS MiB | load average (1, 5, 15 min) |"
echo "|---|---|---|---|---|---|"
for ((r = 0; r < repeats; ++r)); do
  for threads in 1 2; do
    for what in names both; do
      out=(-o "$dir/t.names.idx")
      [ "$what" = both ] && out+=(-d "$dir/t.rdata.idx")
      load=$(cut -d' ' -f1-3 /proc/loadavg)
      /usr/bin/time -f '%e %M' -o "$dir/t.time" build/bin/gramforge --force -q -m 256 \
        --threads "$threads" "${out[@]}" "$dir/corpus.json"
      read -r secs kb <"$dir/t.time"
      echo "| $count | $what | $threads | $secs | $((kb / 1024)) | $load |"
    done
  done
done
rm -f "$dir/t.names.idx" "$dir/t.rdata.idx" "$dir/t.time"
