#!/usr/bin/env bash
# What index merging costs and what compaction buys.
#
# Usage: bench/lifecycle/run.sh [count [workdir [per_day [repeats]]]]
#   (expects a release build in build/; generated inputs are kept in workdir, default
#   $TMPDIR/lifecycle-bench, and reused by later runs)
#
# (a) count observations (default 1000000, over a pool of count names) in two halves,
#     each built into an owner-name and an rdata index; then the time and peak resident
#     size of building both indexes again from all the observations, beside merging the
#     four index files (which must give the same bytes); (a2) the same for a record
#     store of each half beside the store of all observations.
# (b) 30 daily files of per_day observations each (default 20000) and their compaction
#     into one file; the compaction's time, and search times (median of repeats searches
#     in one process, default 5) of -A searches that only the last day can answer, over
#     the 30 files and over the one.
set -euo pipefail
cd "$(dirname "$0")/../.."
ninja -C build quarnsearch gramforge >/dev/null
count=${1:-1000000}
work=${2:-${TMPDIR:-/tmp}/lifecycle-bench}
per_day=${3:-20000}
repeats=${4:-5}
mkdir -p "$work"
gen=bench/across/gen_observations.py
forge=build/bin/gramforge
qs=build/bin/quarnsearch
day0=1717977600

# Wall time and peak resident size of one command (gramforge -q prints nothing else).
measure() {
  /usr/bin/time -f '%e s, peak %M KiB' "$@" 2>&1 >/dev/null | tail -1
}

echo "== (a) $count observations in two halves: rebuild beside merge"
half=$((count / 2))
for part in 0 1; do
  if [ ! -e "$work/half$part-$count.json" ]; then
    python3 "$gen" "$part" "$half" "$count" 3 >"$work/half$part-$count.json"
  fi
  if [ ! -e "$work/half$part-$count-n.idx" ]; then
    "$forge" -q -o "$work/half$part-$count-n.idx" -d "$work/half$part-$count-d.idx" \
      "$work/half$part-$count.json"
  fi
done
echo "rebuild from observations: $(measure "$forge" -q --force -o "$work/all-n.idx" \
  -d "$work/all-d.idx" "$work/half0-$count.json" "$work/half1-$count.json")"
echo "merge of the four indexes: $(measure "$forge" -q --force -o "$work/merged-n.idx" \
  -d "$work/merged-d.idx" "$work/half0-$count-n.idx" "$work/half0-$count-d.idx" \
  "$work/half1-$count-n.idx" "$work/half1-$count-d.idx")"
for kind in n d; do
  cmp -s "$work/all-$kind.idx" "$work/merged-$kind.idx" || echo "WARNING: merged $kind index differs"
done
printf 'owner-name keys %s, rdata keys %s, sizes %s and %s bytes\n' \
  "$("$qs" -l "$work/all-n.idx" -r -L -1 -s . 2>/dev/null | wc -l)" \
  "$("$qs" -l "$work/all-d.idx" -r -L -1 -s . 2>/dev/null | wc -l)" \
  "$(stat -c %s "$work/all-n.idx")" "$(stat -c %s "$work/all-d.idx")"

echo "== (a2) the same halves as record stores: rebuild beside merge"
for part in 0 1; do
  if [ ! -e "$work/half$part-$count.qrs" ]; then
    "$forge" -q -m 1024 -R "$work/half$part-$count.qrs" "$work/half$part-$count.json"
  fi
done
echo "store rebuild from observations: $(measure "$forge" -q -m 1024 --force \
  -R "$work/all.qrs" "$work/half0-$count.json" "$work/half1-$count.json")"
echo "merge of the two stores: $(measure "$forge" -q -m 1024 --force -R "$work/merged.qrs" \
  "$work/half0-$count.qrs" "$work/half1-$count.qrs")"
cmp -s "$work/all.qrs" "$work/merged.qrs" || echo "WARNING: merged store differs"
printf 'store size %s bytes\n' "$(stat -c %s "$work/all.qrs")"

echo "== (b) 30 daily files of $per_day observations beside their compaction"
inputs=()
for d in $(seq 0 29); do
  f=$work/d30-$per_day-$d
  if [ ! -e "$f-n.idx" ]; then
    python3 "$gen" "$d" "$per_day" 60000 7 >"$f.json"
    "$forge" -q -o "$f-n.idx" -d "$f-d.idx" "$f.json"
  fi
  inputs+=("$f-n.idx" "$f-d.idx")
done
echo "compaction of the 60 files: $(measure "$forge" -q --force -o "$work/month-n.idx" \
  -d "$work/month-d.idx" "${inputs[@]}")"
last=$((day0 + 29 * 86400))
# One process per case runs the search `repeats` times from standard input; each
# search's own "Total Search Time" (stat log) leaves out loading the files.
source bench/lib.sh
for kind in n d; do
  lists=()
  for d in $(seq 0 29); do lists+=(-l "$work/d30-$per_day-$d-$kind.idx"); done
  for expr in . 'dns4[0-9]|z4[0-9]\.' 'h1234[0-9]\.|10\.3\.1[0-9]\.'; do
    printf '%s %-30s 30 files  %s\n' "$kind" "$expr" "$(search_times "$qs" "$repeats" "$last" "$work" "$expr" "${lists[@]}")"
    printf '%s %-30s 1 file    %s\n' "$kind" "$expr" "$(search_times "$qs" "$repeats" "$last" "$work" "$expr" -l "$work/month-$kind.idx")"
  done
done
