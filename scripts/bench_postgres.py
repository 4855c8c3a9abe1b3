#!/usr/bin/env python3
"""Identification inside PostgreSQL over a large gallery: one server scanning
with 2 parallel workers, and the same gallery spread over two shards through
a coordinator (postgres_fdw, asynchronous scans), beside the embedded
gallery's figure. Prints a Markdown section.

Run under three throw-away clusters (the first holds the one-server gallery
and the coordinator, the others are the shards):
  tests/postgres/with_cluster.sh --clusters 3 --set shared_buffers=512MB -- \\
    scripts/bench_postgres.py --tool build/release/cli/zpapi --count 1000000 PROBE.zpt...

The gallery holds copies of a thousand random templates (zpapi populate),
one per subject, loaded inside the servers; copies search as fast as
distinct templates do."""

import argparse
import os
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "postgres"))

from pggallery import fresh_database, spread  # noqa: E402

BASE_TEMPLATES = 1000


def random_templates(tool):
    """A thousand random templates of plausible shape, from zpapi populate."""
    with tempfile.TemporaryDirectory() as folder:
        path = Path(folder) / "base.db"
        subprocess.run([tool, "populate", "--db", path, "--count", str(BASE_TEMPLATES), "--seed", "9", "--quiet"],
                       check=True, stdout=subprocess.DEVNULL)
        return [bytes(row[0]) for row in sqlite3.connect(path).execute("SELECT template FROM templates")]


def fill(connection, templates, count):
    """count rows, template i being templates[i % len], subject 'subject-i'."""
    with connection.cursor() as cur:
        cur.execute("CREATE TEMP TABLE base (k integer PRIMARY KEY, t bytea NOT NULL)")
        cur.executemany("INSERT INTO base VALUES (%s, %s)", list(enumerate(templates)))
        cur.execute(
            "INSERT INTO zp_templates (subject, finger, slot, quality, template, checksum) "
            "SELECT 'subject-' || i, 0, 0, 0, base.t, zp_row_checksum('subject-' || i, 0, base.t) "
            "FROM generate_series(0, %s - 1) AS i JOIN base ON base.k = i %% %s",
            (count, len(templates)))
        cur.execute("ANALYZE zp_templates")


def search_times(connection, probes, runs):
    """Seconds of each zp_identify (after one search that warms the caches)."""
    times = []
    with connection.cursor() as cur:
        cur.execute("SELECT * FROM zp_identify(%s)", (probes[0],))
        for _ in range(runs):
            for probe in probes:
                began = time.perf_counter()
                cur.execute("SELECT * FROM zp_identify(%s)", (probe,))
                cur.fetchall()
                times.append(time.perf_counter() - began)
    return times


def row(label, times):
    median = statistics.median(times)
    return f"| {label} | {median:.3f} s | {min(times):.3f} s | {1 / median:.2f} |"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tool", required=True, help="the zpapi tool")
    parser.add_argument("--count", type=int, default=1000000, help="templates in the gallery")
    parser.add_argument("--runs", type=int, default=2, help="searches per probe")
    parser.add_argument("--embedded-seconds", type=float, help="zpapi identify over the same count, whole command")
    parser.add_argument("probes", nargs="+", help="probe templates (.zpt)")
    args = parser.parse_args()
    probes = [Path(p).read_bytes() for p in args.probes]
    dsns = [os.environ["ZPAPI_PG_DSN"], os.environ["ZPAPI_PG_DSN_1"], os.environ["ZPAPI_PG_DSN_2"]]
    templates = random_templates(args.tool)

    began = time.perf_counter()
    single = fresh_database(dsns[0], "bench_single")
    with single.cursor() as cur:
        cur.execute("SELECT zp_create_gallery()")
    fill(single, templates, args.count)
    single_load = time.perf_counter() - began
    with single.cursor() as cur:
        cur.execute("SET max_parallel_workers_per_gather = 0")
    serial_times = search_times(single, probes, args.runs)
    with single.cursor() as cur:
        cur.execute("SET max_parallel_workers_per_gather = 2")
    single_times = search_times(single, probes, args.runs)
    print(f"bench_postgres: one server: loaded in {single_load:.0f} s, searches {serial_times} without workers, "
          f"{single_times} with 2", file=sys.stderr)

    began = time.perf_counter()
    shards = [fresh_database(dsn, "bench_shard") for dsn in dsns[1:]]
    coordinator = fresh_database(dsns[0], "bench_coordinator")
    spread(coordinator, shards, [dsn.rsplit("/", 1)[0] + "/bench_shard" for dsn in dsns[1:]])
    fill(coordinator, templates, args.count)
    for shard in shards:
        with shard.cursor() as cur:
            cur.execute("ANALYZE zp_templates")
    shard_load = time.perf_counter() - began
    shard_times = search_times(coordinator, probes, args.runs)
    print(f"bench_postgres: two shards: loaded in {shard_load:.0f} s, searches {shard_times}", file=sys.stderr)

    print()
    print("#### Identification inside PostgreSQL")
    print()
    print(f"{args.count:,} templates (copies of {BASE_TEMPLATES:,} random ones, one subject each), one probe at a "
          f"time, `zp_identify` with the defaults (top 5, short list of 50 fingers), {len(probes)} probes x "
          f"{args.runs} searches after a warm-up; every server on this machine ({os.cpu_count()} cores, "
          "PostgreSQL 15, shared_buffers 512MB), so the shards share its cores. A shard is read through a "
          "postgres_fdw cursor, which PostgreSQL runs on one core: two shards are two cores per search.")
    print()
    print("| gallery | median latency | best | searches/s |")
    print("|---|---:|---:|---:|")
    if args.embedded_seconds:
        print(f"| embedded (SQLite), `zpapi identify`, whole command | {args.embedded_seconds:.3f} s | | "
              f"{1 / args.embedded_seconds:.2f} |")
    print(row("one PostgreSQL server, no parallel workers (one core per search, as each shard)", serial_times))
    print(row("one PostgreSQL server, 2 parallel workers", single_times))
    print(row("two shards through a coordinator (postgres_fdw, asynchronous)", shard_times))
    print()
    print(f"Loading took {single_load:.0f} s (one server) and {shard_load:.0f} s (through the coordinator).")


if __name__ == "__main__":
    main()
