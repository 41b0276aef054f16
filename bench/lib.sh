# Shell helpers shared by the benchmark scripts; source it, do not run it.

# search_times PROGRAM REPEATS LAST WORKDIR EXPR ARGS...: runs EXPR REPEATS times in
# one PROGRAM process (quarnsearch reading expressions from standard input) with
# `-r -L -1 -A LAST` and ARGS, and prints the result count of the first search with the
# median and minimum total search time from the statistics log (kept in WORKDIR).
search_times() {
  local qs=$1 repeats=$2 last=$3 work=$4 expr=$5
  shift 5
  yes "$expr" | head -n "$repeats" | QUARN_LOGLEVEL=stat "$qs" "$@" -r -L -1 -A "$last" \
    2>"$work/stat.log" >/dev/null
  local n times
  n=$(grep -m1 'Search completed after' "$work/stat.log" | awk '{ print $(NF - 1) }')
  times=$(awk '/Total Search Time/ { printf "%.2f\n", $(NF - 1) * 1000 }' "$work/stat.log" | sort -n)
  printf 'results %7d  median %8s ms  min %8s ms\n' "$n" \
    "$(sed -n "$(((repeats + 1) / 2))p" <<<"$times")" "$(head -1 <<<"$times")"
}
