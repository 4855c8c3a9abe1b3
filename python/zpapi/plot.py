"""Pictures of an evaluation report (``zpapi eval --report REPORT.json``).

    python3 -m zpapi.plot REPORT.json [MORE.json ...] -o OUT.png [--sets NAME,...]

One set: OUT.png holds its score histograms, FMR and FNMR against the
threshold with the five security levels marked, and its DET curve. Several
sets: OUT_SET.png for each, and OUT.png with every set's DET curve on one
plot. DET curves are drawn on normal-deviate (probit) axes, FMR across and
FNMR up, as ISO/IEC 19795-1 and the NIST evaluations draw them.
"""

from __future__ import annotations

import argparse
import json
import os
import sys
from statistics import NormalDist
from typing import List, Sequence

import numpy as np

LEVELS = 5
_NORMAL = NormalDist()
# Rates labelled on the probit axes.
_TICKS = [0.00001, 0.0001, 0.001, 0.01, 0.02, 0.05, 0.1, 0.2, 0.4, 0.6, 0.8]


def probit(p) -> np.ndarray:
    """Normal deviate of each rate (rates are clipped into (0, 1) first)."""
    p = np.clip(np.asarray(p, dtype=float), 1e-9, 1 - 1e-9)
    return np.vectorize(_NORMAL.inv_cdf, otypes=[float])(p)


def _percent(p: float) -> str:
    text = f"{p * 100:.4f}".rstrip("0").rstrip(".")
    return text + "%"


def load_sets(paths: Sequence[str], names: Sequence[str] = ()) -> List[dict]:
    """Every set of the reports that has a curve, in order; only those named when names are given."""
    sets = []
    for path in paths:
        with open(path, encoding="utf-8") as f:
            report = json.load(f)
        for s in report.get("sets", []):
            if "curve" not in s or "histogram" not in s:
                raise SystemExit(f"{path}: set {s.get('set')!r} has no curve: write it with zpapi eval --report")
            if not names or s["set"] in names:
                sets.append(s)
    missing = [n for n in names if n not in {s["set"] for s in sets}]
    if missing:
        raise SystemExit("no set named " + ", ".join(missing) + " in " + ", ".join(paths))
    if not sets:
        raise SystemExit("no sets in " + ", ".join(paths))
    return sets


def _curve(s: dict):
    curve = sorted(s["curve"], key=lambda c: c["threshold"])
    t = np.array([c["threshold"] for c in curve])
    return t, np.array([c["fmr"] for c in curve]), np.array([c["fnmr"] for c in curve])


def _floor(s: dict) -> float:
    """Half the smallest non-zero rate a set can show (of the smaller count)."""
    n = max(1, s.get("genuine_comparisons", 1) or 1, s.get("impostor_comparisons", 1) or 1)
    return 0.5 / n


def draw_histogram(ax, s: dict) -> None:
    h = s["histogram"]
    scores = np.arange(len(h["genuine"]))
    for key, colour in (("impostor", "tab:red"), ("genuine", "tab:blue")):
        counts = np.asarray(h[key], dtype=float)
        total = counts.sum()
        share = counts / total if total else counts
        ax.step(scores, share, where="mid", color=colour, label=f"{key} ({int(total)})")
    ax.set_yscale("log")
    ax.set_xlim(0, scores[-1])
    ax.set_xlabel("score")
    ax.set_ylabel("share of comparisons")
    ax.set_title("score histograms")
    ax.legend(fontsize="small")
    ax.grid(True, alpha=0.3)


def draw_rates(ax, s: dict) -> None:
    t, fmr, fnmr = _curve(s)
    ax.plot(t, fmr * 100, color="tab:red", label="FMR")
    ax.plot(t, fnmr * 100, color="tab:blue", label="FNMR")
    for level in s.get("levels", []):
        ax.axvline(level["threshold"], color="grey", linestyle=":", linewidth=0.8)
        ax.annotate(f"L{level['level']}", (level["threshold"], 1.0), xycoords=("data", "axes fraction"),
                    xytext=(2, -10), textcoords="offset points", fontsize="small", color="dimgrey")
    if "eer_threshold" in s:
        ax.plot([s["eer_threshold"]], [s["eer"] * 100], "ko", markersize=4, label=f"EER {s['eer'] * 100:.2f}%")
    ax.set_xlim(t[0], t[-1])
    ax.set_ylim(0, 100)
    ax.set_xlabel("threshold (accept when score >= threshold)")
    ax.set_ylabel("rate (%)")
    ax.set_title("FMR and FNMR; levels 1-5")
    ax.legend(fontsize="small")
    ax.grid(True, alpha=0.3)


def draw_det(ax, sets: Sequence[dict], mark_levels: bool = True) -> None:
    # Zero rates lie at minus infinity: they are drawn on the axes' edge.
    floor = max(1e-5, min(_floor(s) for s in sets))
    for s in sets:
        _, fmr, fnmr = _curve(s)
        f = np.maximum(fmr, floor)
        g = np.maximum(fnmr, floor)
        (line,) = ax.plot(probit(f), probit(g), label=f"{s['set']} (EER {s.get('eer', 0.0) * 100:.2f}%)")
        if mark_levels:
            for level in s.get("levels", []):
                x = probit(max(level["fmr"], floor))
                y = probit(max(level["fnmr"], floor))
                ax.plot([x], [y], "o", color=line.get_color(), markersize=3)
                if len(sets) == 1:
                    ax.annotate(f"L{level['level']}", (x, y), xytext=(3, 3), textcoords="offset points",
                                fontsize="small")
    lo = probit(floor)
    hi = probit(0.8)
    diagonal = np.array([lo, hi])
    ax.plot(diagonal, diagonal, color="lightgrey", linestyle="--", linewidth=0.8)
    ticks = [p for p in _TICKS if p >= floor]
    ax.set_xticks(probit(ticks))
    ax.set_xticklabels([_percent(p) for p in ticks], rotation=45, fontsize="small")
    ax.set_yticks(probit(ticks))
    ax.set_yticklabels([_percent(p) for p in ticks], fontsize="small")
    ax.set_xlim(lo, hi)
    ax.set_ylim(lo, hi)
    ax.set_xlabel("false match rate (normal deviate scale)")
    ax.set_ylabel("false non-match rate (normal deviate scale)")
    ax.set_title("DET" + (" (dots: levels 1-5)" if mark_levels else ""))
    ax.legend(fontsize="small", loc="upper right")
    ax.grid(True, alpha=0.3)


def _figure(columns: int):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    return plt, plt.subplots(1, columns, figsize=(5.2 * columns, 4.8), constrained_layout=True)


def plot_set(s: dict, out: str) -> None:
    """Histograms, FMR/FNMR against threshold and the DET curve of one set."""
    plt, (fig, axes) = _figure(3)
    draw_histogram(axes[0], s)
    draw_rates(axes[1], s)
    draw_det(axes[2], [s])
    fig.suptitle(f"{s['set']}: {s.get('genuine_comparisons', 0)} genuine, "
                 f"{s.get('impostor_comparisons', 0)} impostor comparisons")
    fig.savefig(out, dpi=100)
    plt.close(fig)


def plot_det(sets: Sequence[dict], out: str) -> None:
    """Every set's DET curve on one plot."""
    plt, (fig, ax) = _figure(1)
    fig.set_size_inches(6.4, 6.0)
    draw_det(ax, sets, mark_levels=True)
    fig.savefig(out, dpi=100)
    plt.close(fig)


def set_path(out: str, name: str) -> str:
    """OUT_SET.png beside OUT.png."""
    stem, ext = os.path.splitext(out)
    return f"{stem}_{name}{ext or '.png'}"


def main(argv: Sequence[str] = None) -> int:
    parser = argparse.ArgumentParser(prog="python3 -m zpapi.plot", description=__doc__.split("\n\n")[0])
    parser.add_argument("reports", nargs="+", help="reports written by zpapi eval --report")
    parser.add_argument("-o", "--output", required=True, help="PNG to write (OUT_SET.png per set when several)")
    parser.add_argument("--sets", default="", help="comma-separated set names to draw (default: every set)")
    args = parser.parse_args(argv)
    names = [n for n in args.sets.split(",") if n]
    sets = load_sets(args.reports, names)
    written = []
    if len(sets) == 1:
        plot_set(sets[0], args.output)
        written.append(args.output)
    else:
        for s in sets:
            path = set_path(args.output, s["set"])
            plot_set(s, path)
            written.append(path)
        plot_det(sets, args.output)
        written.append(args.output)
    for path in written:
        print(f"plot: {path}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
