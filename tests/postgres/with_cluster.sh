#!/usr/bin/env bash
# Runs a command against throw-away PostgreSQL clusters.
#
#   with_cluster.sh [--clusters N] [--set name=value]... -- COMMAND...
#
# Each cluster is initialised into its own temporary folder (owned by the
# postgres user when run as root), listens only on 127.0.0.1 on a free port
# and is stopped and removed on exit, whatever COMMAND answers.  COMMAND sees
#   ZPAPI_PG_DSN, ZPAPI_PG_DSN_1, ...   postgresql://postgres@127.0.0.1:PORT/postgres
#   ZPAPI_PG_LOG, ZPAPI_PG_LOG_1, ...   the server log of each cluster
#   PGHOST, PGPORT, PGUSER, PGDATABASE  the first cluster, for psql and pg_regress
# Without PostgreSQL it exits 77 (a skip), unless ZPAPI_REQUIRE_POSTGRES=1.
set -euo pipefail

clusters=1
settings=()
while [[ $# -gt 0 ]]; do
  case "$1" in
    --clusters) clusters="$2"; shift 2 ;;
    --set) settings+=("$2"); shift 2 ;;
    --) shift; break ;;
    *) echo "with_cluster.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
if [[ $# -eq 0 ]]; then
  echo "usage: with_cluster.sh [--clusters N] [--set name=value]... -- COMMAND..." >&2
  exit 2
fi

missing() {
  echo "with_cluster.sh: $1" >&2
  if [[ "${ZPAPI_REQUIRE_POSTGRES:-0}" == 1 ]]; then exit 1; fi
  exit 77
}

bindir="${ZPAPI_PG_BINDIR:-/usr/lib/postgresql/15/bin}"
[[ -x "$bindir/initdb" && -x "$bindir/pg_ctl" ]] ||
  missing "PostgreSQL server programs not found in $bindir (install postgresql-15)"

# The server refuses to run as root: clusters belong to the postgres user then.
as_owner=()
if [[ $(id -u) -eq 0 ]]; then
  id postgres >/dev/null 2>&1 || missing "no postgres user to own the clusters"
  as_owner=(runuser -u postgres --)
fi

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

folders=()
cleanup() {
  local folder
  for folder in "${folders[@]}"; do
    if [[ -f "$folder/data/postmaster.pid" ]]; then
      "${as_owner[@]}" "$bindir/pg_ctl" -D "$folder/data" -m immediate -w stop >/dev/null 2>&1 || true
    fi
    rm -rf "$folder"
  done
  folders=()
}
trap cleanup EXIT
trap 'cleanup; exit 130' INT
trap 'cleanup; exit 143' TERM

# Folders first, then every initdb at once (the slow part), then the servers.
init_cluster() {
  local folder="$1"
  "${as_owner[@]}" "$bindir/initdb" -D "$folder/data" -U postgres --auth=trust \
    --data-checksums --encoding=UTF8 --locale=C >"$folder/initdb.log" 2>&1 || {
    cat "$folder/initdb.log" >&2
    echo "with_cluster.sh: initdb failed" >&2
    return 1
  }
}

start_cluster() {
  local index="$1" folder="${folders[$1]}" port attempt
  {
    echo "listen_addresses = '127.0.0.1'"
    echo "unix_socket_directories = '$folder'"
    echo "max_worker_processes = 8"
    echo "max_parallel_workers = 8"
    echo "max_parallel_workers_per_gather = 2"
    echo "shared_buffers = 32MB"
    echo "fsync = off"
    echo "synchronous_commit = off"
    echo "full_page_writes = off"
    local setting
    for setting in "${settings[@]}"; do echo "$setting"; done
  } >>"$folder/data/postgresql.conf"
  # A free port may be taken between asking and listening: try a few.
  for attempt in 1 2 3 4 5; do
    port=$(free_port)
    if "${as_owner[@]}" "$bindir/pg_ctl" -D "$folder/data" -l "$folder/server.log" \
        -o "-p $port" -w -t 60 start >/dev/null 2>&1; then
      local dsn="postgresql://postgres@127.0.0.1:$port/postgres"
      if [[ "$index" -eq 0 ]]; then
        export ZPAPI_PG_DSN="$dsn" ZPAPI_PG_LOG="$folder/server.log"
        export PGHOST=127.0.0.1 PGPORT="$port" PGUSER=postgres PGDATABASE=postgres
      else
        export "ZPAPI_PG_DSN_$index=$dsn" "ZPAPI_PG_LOG_$index=$folder/server.log"
      fi
      return 0
    fi
  done
  cat "$folder/server.log" >&2 || true
  echo "with_cluster.sh: the server did not start" >&2
  return 1
}

for ((i = 0; i < clusters; i++)); do
  folder=$(mktemp -d "${TMPDIR:-/tmp}/zpapi-pg.XXXXXX")
  folders+=("$folder")
  chmod 755 "$folder"
  [[ ${#as_owner[@]} -eq 0 ]] || chown postgres: "$folder"
done
pids=()
for folder in "${folders[@]}"; do
  init_cluster "$folder" &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid"; done
for ((i = 0; i < clusters; i++)); do
  start_cluster "$i"
done

status=0
"$@" || status=$?
cleanup
exit "$status"
