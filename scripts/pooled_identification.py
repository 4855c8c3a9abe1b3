#!/usr/bin/env python3
"""Pools FVC-style sets into one gallery through the zpapi tool: each finger
enrolled from impressions 1-3 (zpapi enroll), every other impression searched
(zpapi identify). A probe is identified when its own finger is accepted at the
level and no other; any other subject accepted is a false accept. Finger N of
fvc2000_db1_b and of fvc2000_db2_b is one finger on two sensors: one identity.

usage: pooled_identification.py ZPAPI DATA_DIR [--level N] [--markdown FILE]
"""
import argparse
import json
import os
import re
import subprocess
import sys
import tempfile

SAME_FINGER_SETS = {"fvc2000_db1_b": "fvc2000_db12", "fvc2000_db2_b": "fvc2000_db12"}


def identity(subject):
    set_name, finger = subject.rsplit("-", 1)
    return SAME_FINGER_SETS.get(set_name, set_name) + "-" + finger


def run_json(zpapi, args):
    out = subprocess.run([zpapi] + args + ["--json"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    if out.returncode == 2:
        sys.exit(f"pooled_identification: zpapi {' '.join(args)} failed (exit 2)")
    return json.loads(out.stdout)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("zpapi")
    ap.add_argument("data")
    ap.add_argument("--level", type=int, default=3)
    ap.add_argument("--markdown")
    a = ap.parse_args()
    sets = sorted(d for d in os.listdir(a.data) if os.path.isdir(os.path.join(a.data, d)))
    images = {}
    for s in sets:
        for f in os.listdir(os.path.join(a.data, s)):
            m = re.fullmatch(r"(\d+)_(\d+)\.(tif|tiff|png|bmp|pgm|jpg)", f)
            if m:
                images[(s, int(m.group(1)), int(m.group(2)))] = os.path.join(a.data, s, f)
    fingers = sorted({(s, f) for (s, f, _) in images})
    if not fingers:
        sys.exit(f"pooled_identification: no FINGER_IMPRESSION images under {a.data}")
    with tempfile.TemporaryDirectory() as tmp:
        db = os.path.join(tmp, "pooled.db")
        enrolled = set()
        for s, f in fingers:
            first = [images[(s, f, i)] for i in (1, 2, 3) if (s, f, i) in images]
            r = run_json(a.zpapi, ["enroll", "--db", db, "--id", f"{s}-{f}"] + first)
            if r["enrolled"]:
                enrolled.add(f"{s}-{f}")
        probes = identified = false_accepts = 0
        for (s, f, i), path in sorted(images.items()):
            if i <= 3:
                continue
            probes += 1
            r = run_json(a.zpapi, ["identify", "--db", db, "--top", "10", "--level", str(a.level), path])
            accepted = [c["subject"] for c in r["candidates"] if c["match"]]
            truth = identity(f"{s}-{f}")
            wrong = [c for c in accepted if identity(c) != truth]
            false_accepts += len(wrong)
            if accepted and not wrong:
                identified += 1
    rows = [
        ("sets", ", ".join(sets)),
        ("fingers enrolled (impressions 1-3)", f"{len(enrolled)} of {len(fingers)}"),
        ("probes (impressions 4 and later)", str(probes)),
        (f"identified at level {a.level} (own finger accepted, no other)", f"{identified} ({100.0 * identified / probes:.1f} %)"),
        ("false accepts", str(false_accepts)),
    ]
    md = "| pooled gallery | |\n|---|---|\n" + "".join(f"| {k} | {v} |\n" for k, v in rows)
    print(md, end="")
    if a.markdown:
        with open(a.markdown, "w") as out:
            out.write(md)


if __name__ == "__main__":
    main()
