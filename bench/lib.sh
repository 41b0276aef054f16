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

# pg_settings SOCKET_DIR: the postgresql.conf lines of the benchmarks' private
# PostgreSQL servers: a Unix socket in SOCKET_DIR only, single-threaded like the other
# tools, WAL and fsync off so that loading is not held back by the disk, shared buffers
# large enough to keep table and index warm.
pg_settings() {
  cat <<CONF
listen_addresses = ''
unix_socket_directories = '$1'
shared_buffers = 2GB
maintenance_work_mem = 256MB
work_mem = 64MB
max_parallel_workers_per_gather = 0
max_parallel_maintenance_workers = 0
fsync = off
synchronous_commit = off
full_page_writes = off
wal_level = minimal
max_wal_senders = 0
jit = off
CONF
}
