"""QuickMatcher.scores against the C library's own batch quick match.

    PYTHONPATH=build/release/python python3 python/bench/bench_quick.py [--count 100000] [--runs 7] [--threads 0]

Both score the same templates (generated fingers, extracted, repeated up to
--count) against the same probe on the same number of threads: the C side
is build/release/python/zpapi_quick_baseline (ZPLoadFeature, then
ZPQuickMatch on T threads with one loaded workspace each), the Python side
one QuickMatcher.scores call on an (N, 256) uint8 array. Runs alternate
between the two; the medians are compared. Scores must be equal.
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

import zpapi


def templates(count: int) -> np.ndarray:
    images, _ = zpapi.synth(40, 2, 2026)
    made = []
    for f in range(images.shape[0]):
        for k in range(images.shape[1]):
            try:
                made.append(bytes(zpapi.extract(images[f, k])))
            except zpapi.ExtractionError:
                pass
    rows = np.frombuffer(b"".join(made), np.uint8).reshape(-1, 256)
    return np.ascontiguousarray(np.resize(rows, (count, 256)))


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--count", type=int, default=100_000)
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--threads", type=int, default=0, help="0: every core")
    parser.add_argument("--baseline", default=os.path.join(os.path.dirname(zpapi.__file__), os.pardir,
                                                           "zpapi_quick_baseline"))
    args = parser.parse_args()
    threads = args.threads or os.cpu_count()
    batch = templates(args.count)
    probe = zpapi.Template(batch[1].tobytes())
    matcher = zpapi.QuickMatcher(probe)
    with tempfile.TemporaryDirectory() as work:
        tfile, pfile = os.path.join(work, "t.bin"), os.path.join(work, "p.bin")
        batch.tofile(tfile)
        with open(pfile, "wb") as f:
            f.write(bytes(probe))
        c_times, py_times = [], []
        expected = int(matcher.scores(batch, threads).astype(np.uint64).sum())
        for _ in range(args.runs):
            out = subprocess.run([args.baseline, tfile, pfile, str(threads), "1"], check=True,
                                 capture_output=True, text=True).stdout.split()
            c_times.append(float(out[0]))
            if int(out[1]) != expected:
                print("bench_quick: the C library's scores differ from QuickMatcher's", file=sys.stderr)
                return 1
            start = time.perf_counter()
            matcher.scores(batch, threads)
            py_times.append(time.perf_counter() - start)
    c, py = statistics.median(c_times), statistics.median(py_times)
    print(f"{args.count} templates, {threads} threads, median of {args.runs} runs each")
    print(f"C library (ZPQuickMatch loop): {c * 1000:8.2f} ms  {args.count / c / 1e6:6.2f} M templates/s")
    print(f"QuickMatcher.scores:           {py * 1000:8.2f} ms  {args.count / py / 1e6:6.2f} M templates/s")
    print(f"QuickMatcher reaches {100 * c / py:.1f} % of the C library's throughput")
    return 0


if __name__ == "__main__":
    sys.exit(main())
