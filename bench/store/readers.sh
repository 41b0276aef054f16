#!/usr/bin/env bash
# The readers of several builds on one record store, in turn: range lookups in-process.
#
#   [ROUNDS=3] bench/store/readers.sh STORE NAMES BIN_DIR [BIN_DIR ...]
#
# Each round runs every BIN_DIR's store_bench --open on STORE, one after the other, so
# that the builds share the machine's load alike; the store's pages are cached by the
# first run. NAMES feeds the exact-name lookups store_bench makes first (a short file
# keeps them quick). The ranges are those of run.sh at 10,000,000 names: the subtree
# nearest 10,000 names, the /24 and /8 of the first A value, the largest name-server
# value and *.compute.internal; QUERIES (space-separated) replaces them. Per range: the
# records of the five timed runs, records per second of wall time and per CPU second
# (the steadier figure on a shared machine), with the load average per build and round.
set -euo pipefail
[ $# -ge 3 ] || { echo "usage: $0 STORE NAMES BIN_DIR [BIN_DIR ...]" >&2; exit 2; }
store=$1
names=$2
shift 2
read -r -a queries <<<"${QUERIES:-name=*.accountcdn.net value=21.156.4.0/24 value=21.0.0.0/8 ns=ns2.mail.com. name=*.compute.internal}"
for r in $(seq "${ROUNDS:-3}"); do
  for b in "$@"; do
    echo "== $b round $r load $(cut -d' ' -f1-3 /proc/loadavg)"
    "$b/store_bench" --open "$store" "$names" "${queries[@]}" | grep -v 'first timed\|exact' |
      sed -E 's/^(.*[^ ]) +([0-9]+) records +([0-9.]+) s +([0-9]+) records\/s \(([0-9]+) per CPU second\)/\1|\2|\4|\5/' |
      awk -F'|' '{printf "  %-32s %8d rec %9.0f rec/s wall %9.0f rec/CPU-s\n", $1, $2, $3, $4}'
  done
done
