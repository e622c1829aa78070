"""Side-by-side timing of tarnwell's Pelt and the peers on the same signals.

Signals: levels uniform in [-5, 5] changing every 100 or every 10 000 samples
plus N(0, 1) noise (numpy default_rng, seed 1), penalty 3 ln n. Every run is
a fresh process (worker.py) timing only the detection call; within a case the
packages take turns, the order rotated every repetition. A peer's ratio is
its median time over tarnwell's from the same run, and counts only where its
breakpoints are exactly tarnwell's. A peer is skipped at a size where ten
times its median at the previous size exceeds LIMIT_S.

The one-minute load average is read before and after each configuration
and printed beside its row: times taken on a busy machine are not what a
reader gets. Rows measured above MAX_LOAD are marked, and `--write-table`
(which replaces the table of the documentation's performance page) refuses
to write a table with such a row.

Environment: SIZES (default 100000,1000000,10000000), REPS (3), LIMIT_S (60), MAX_LOAD (1.0),
TARNWELL_PYTHON (the project's .venv python), TARNWELL_PATH (PYTHONPATH for
it, default build/dev when that holds a build), PEERS_HOME (where setup.sh
put the peers' venv; /tmp/tarnwell-peers), DATA_DIR.
"""
import json
import math
import os
import statistics
import subprocess
import sys

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
PROJECT = os.path.dirname(os.path.dirname(HERE))
PEERS_HOME = os.environ.get("PEERS_HOME", "/tmp/tarnwell-peers")
PEER_PYTHON = os.path.join(PEERS_HOME, "venv", "bin", "python")
TARNWELL_PYTHON = os.environ.get("TARNWELL_PYTHON", os.path.join(PROJECT, ".venv", "bin", "python"))
DEV_BUILD = os.path.join(PROJECT, "build", "dev")
TARNWELL_PATH = os.environ.get("TARNWELL_PATH", DEV_BUILD if os.path.isdir(os.path.join(DEV_BUILD, "tarnwell")) else "")
DATA_DIR = os.environ.get("DATA_DIR", os.path.join(PEERS_HOME, "data"))
SIZES = [int(s) for s in os.environ.get("SIZES", "100000,1000000,10000000").split(",")]
REPS = int(os.environ.get("REPS", "3"))
LIMIT_S = float(os.environ.get("LIMIT_S", "60"))
MAX_LOAD = float(os.environ.get("MAX_LOAD", "1.0"))
TABLE_PAGE = os.path.join(PROJECT, "docs", "performance.md")
TABLE_START, TABLE_END = "<!-- peers table: start -->", "<!-- peers table: end -->"
PACKAGES = ["tarnwell", "skchange-fpop", "fastcpd", "changepoint-cython"]


def signal_file(n, spacing):
    path = os.path.join(DATA_DIR, f"pelt_{n}_{spacing}.npy")
    if not os.path.exists(path):
        os.makedirs(DATA_DIR, exist_ok=True)
        rng = np.random.default_rng(1)
        levels = rng.uniform(-5, 5, size=n // spacing + 1)
        np.save(path, levels[np.arange(n) // spacing] + rng.standard_normal(n))
    return path


def measure(package, path, pen):
    python = TARNWELL_PYTHON if package == "tarnwell" else PEER_PYTHON
    env = dict(os.environ)
    if package == "tarnwell" and TARNWELL_PATH:
        env["PYTHONPATH"] = TARNWELL_PATH
    done = subprocess.run([python, os.path.join(HERE, "worker.py"), package, path, repr(pen)],
                          capture_output=True, text=True, env=env)
    if done.returncode != 0:
        return {"error": done.stderr.strip()[-300:]}
    return json.loads(done.stdout.strip().splitlines()[-1])


def format_seconds(seconds):
    return f"{seconds * 1e3:.1f} ms" if seconds < 1 else f"{seconds:.2f} s"


def load():
    return os.getloadavg()[0]


def main():
    lines = [f"| n | change every | tarnwell | changes | peak RSS (tarnwell process) | "
             + " | ".join(f"{p} / tarnwell" for p in PACKAGES[1:]) + " | load before → after |",
             "|---|---|---|---|---|" + "---|" * (len(PACKAGES) - 1) + "---|"]
    for line in lines:
        print(line)
    previous = {}
    busy = []
    for spacing in (100, 10_000):
        for n in SIZES:
            path = signal_file(n, spacing)
            pen = 3 * math.log(n)
            active = [p for p in PACKAGES if p == "tarnwell" or previous.get((p, spacing), 0) * 10 <= LIMIT_S]
            times = {p: [] for p in active}
            results = {}
            load_before = load()
            for rep in range(REPS):
                order = active[rep % len(active):] + active[:rep % len(active)]
                for package in order:
                    if rep > 0 and times[package] and times[package][0] > LIMIT_S:
                        continue  # one run is enough for the slow ones
                    outcome = measure(package, path, pen)
                    if "error" in outcome:
                        results[package] = outcome
                        continue
                    times[package].append(outcome["time"])
                    results[package] = outcome
            load_after = load()
            reference = results["tarnwell"]
            base = statistics.median(times["tarnwell"])
            cells = []
            for package in PACKAGES[1:]:
                if package not in active:
                    cells.append("skipped")
                    continue
                outcome = results.get(package, {})
                if "error" in outcome or not times[package]:
                    cells.append("failed")
                    continue
                median = statistics.median(times[package])
                previous[(package, spacing)] = median
                same = "=" if outcome["changes"] == reference["changes"] else "≠"
                cells.append(f"{median / base:.2f}× {same} ({format_seconds(median)})")
            previous[("tarnwell", spacing)] = base
            loaded = max(load_before, load_after) > MAX_LOAD
            if loaded:
                busy.append(f"{n:,} every {spacing:,}")
            mark = " (busy: not for publication)" if loaded else ""
            line = (f"| {n:,} | {spacing:,} | {format_seconds(base)} | {len(reference['changes'])} | "
                    f"{reference['peak_rss_kib'] / 1024:.0f} MiB | " + " | ".join(cells)
                    + f" | {load_before:.2f} → {load_after:.2f}{mark} |")
            lines.append(line)
            print(line, flush=True)
    if busy:
        print(f"load average above {MAX_LOAD} during: {'; '.join(busy)}. These times are not what an idle "
              "machine gives; measure again when the machine is idle.", file=sys.stderr)
    if "--write-table" in sys.argv[1:]:
        return write_table(lines, busy)
    return 0


def write_table(lines, busy):
    """Replaces the table between the performance page's markers, only when no row was busy."""
    if busy:
        print("not writing the table: it was measured on a busy machine", file=sys.stderr)
        return 1
    with open(TABLE_PAGE, encoding="utf-8") as handle:
        text = handle.read()
    if TABLE_START not in text or TABLE_END not in text:
        print(f"{TABLE_PAGE} has no {TABLE_START} ... {TABLE_END} markers", file=sys.stderr)
        return 1
    head, rest = text.split(TABLE_START, 1)
    tail = rest.split(TABLE_END, 1)[1]
    with open(TABLE_PAGE, "w", encoding="utf-8") as handle:
        handle.write(head + TABLE_START + "\n" + "\n".join(lines) + "\n" + TABLE_END + tail)
    return 0


if __name__ == "__main__":
    sys.exit(main())
