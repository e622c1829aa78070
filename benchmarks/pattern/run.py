"""Pattern changes on the development half of the Time Series Segmentation
Benchmark: detect(x, model="pattern") beside ClaSP, series by series.

For each series it prints the covering and the F1 (one-to-one matches within
1 % of n; the start counts in both sets, as in the change-point benchmark)
of tarnwell's pattern model, the covering the benchmark's paper published
for ClaSP, and the covering, F1 and time of ClaSP measured here (claspy with
its defaults, run in its own venv by claspy_worker.py, series by series
alternating with tarnwell so that both see the same machine load), then the
means and total times.

    python benchmarks/pattern/run.py --data ../shared/data/tssb-dev \
        [--claspy-python /path/to/venv/bin/python]   # without it: tarnwell only

The venv for ClaSP: python -m venv /work/venvs/claspy &&
/work/venvs/claspy/bin/pip install claspy==0.2.8 (it pulls aeon).
"""

from __future__ import annotations

import argparse
import csv
import json
import os
import subprocess
import sys
import time
from pathlib import Path

import numpy as np

import tarnwell

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parents[1] / "tests" / "calibration"))
sys.path.insert(0, str(HERE.parents[1] / "benchmarks" / "defaults"))
from scoring import covering, f1_score  # noqa: E402


def load(data: Path) -> list[tuple[str, np.ndarray, list[int]]]:
    series = np.load(data / "series.npz")
    out = []
    with open(data / "annotations.csv") as handle:
        for row in csv.DictReader(handle):
            x = series[row["series"]]
            out.append((row["series"], x, [int(c) for c in row["change_points"].split()] + [len(x)]))
    return out


def published(data: Path) -> dict[str, float]:
    with open(data / "published_covering.csv") as handle:
        return {row["series"]: float(row["ClaSP"]) for row in csv.DictReader(handle)}


def scores(truth: list[int], found: list[int]) -> tuple[float, float]:
    n = truth[-1]
    return covering(truth, found), f1_score(truth, found, margin=max(1, n // 100))


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--data", type=Path, default=HERE.parents[2] / "shared" / "data" / "tssb-dev")
    parser.add_argument("--claspy-python", default=None, help="python of a venv with claspy installed")
    args = parser.parse_args()
    rows = load(args.data)
    reference = published(args.data)
    worker = None
    if args.claspy_python:
        worker = subprocess.Popen([args.claspy_python, str(HERE / "claspy_worker.py"), str(args.data / "series.npz")],
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        assert json.loads(worker.stdout.readline()).get("ready")
    print(f"load before: {os.getloadavg()[0]:.2f}")
    header = f"{'series':30s} {'n':>6s} {'K':>2s} | {'ours':>4s} {'cover':>6s} {'F1':>6s} {'s':>6s} | " \
             f"{'ClaSP pub':>9s} | {'K':>2s} {'cover':>6s} {'F1':>6s} {'s':>6s}"
    print(header)
    ours_cover, ours_f1, ours_time, pub, theirs_cover, theirs_f1, theirs_time = [], [], [], [], [], [], []
    failures = 0
    for name, x, truth in rows:
        start = time.perf_counter()
        found = tarnwell.detect(x, model="pattern").breakpoints
        seconds = time.perf_counter() - start
        cover, f1 = scores(truth, found)
        ours_cover.append(cover), ours_f1.append(f1), ours_time.append(seconds), pub.append(reference[name])
        line = f"{name:30s} {len(x):6d} {len(truth) - 1:2d} | {len(found) - 1:4d} {cover:6.3f} {f1:6.3f} " \
               f"{seconds:6.2f} | {reference[name]:9.3f} |"
        if worker is not None:
            worker.stdin.write(name + "\n")
            worker.stdin.flush()
            answer = json.loads(worker.stdout.readline())
            failures += answer["error"] is not None
            clasp = sorted(c for c in answer["change_points"] if 0 < c < len(x)) + [len(x)]
            c_cover, c_f1 = scores(truth, clasp)
            theirs_cover.append(c_cover), theirs_f1.append(c_f1), theirs_time.append(answer["seconds"])
            line += f" {len(clasp) - 1:2d} {c_cover:6.3f} {c_f1:6.3f} {answer['seconds']:6.2f}"
        print(line, flush=True)
    print(f"{'mean':30s} {'':6s} {'':2s} | {'':4s} {np.mean(ours_cover):6.3f} {np.mean(ours_f1):6.3f} "
          f"{sum(ours_time):6.1f} | {np.mean(pub):9.3f} |" +
          (f" {'':2s} {np.mean(theirs_cover):6.3f} {np.mean(theirs_f1):6.3f} {sum(theirs_time):6.1f}"
           if theirs_time else ""))
    if theirs_time:
        print(f"total time: tarnwell {sum(ours_time):.1f} s, ClaSP {sum(theirs_time):.1f} s, "
              f"ClaSP / tarnwell = {sum(theirs_time) / sum(ours_time):.1f}; ClaSP failures: {failures}")
        worker.stdin.close()
        worker.wait()
    print(f"load after: {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
