"""Every cost model from Python: per-call costs, small searches, and how every
search scales with every model next to skchange's PELT.

First table: `error` per call (one segment, Python call included) for d = 1, 5,
20; the native benchmark (build/bench/costs_benchmark, `make bench`) gives the
bare segment_cost times, allocation counts and baselines. Second table: Pelt
and Dynp(n_bkps=5) at n = 1000 and 2000 with the growth factor between the two
sizes.

Third table (`scaling`): every model x search at n = 10^4, 10^5, 10^6, each
run in a fresh process (benchmarks/peers/cost_worker.py) timing only the
search, with the time per sample and the process's peak memory. Pelt runs on
signals with a level change every 100 and every 1000 samples (pen = 3 ln n,
min_size 5, jump 1); Binseg, BottomUp, Window (width 100, jump 5) and Dynp
(jump 5) look for 20 changes in a signal with 20. skchange's PELT with its
matching cost (L2Cost, L1Cost, RankCost, GaussianCost, LinearRegressionCost)
runs on the same signals in the same run when its venv exists
(benchmarks/peers/setup.sh). A case is skipped at a size where its previous
size's time times the expected growth exceeds LIMIT_S (60 s).

Fourth table (`rare`): Pelt with every model on signals with few changes (two
and ten, evenly spread level changes over unit noise) at the same sizes, pen =
3 ln n (1 + d), beside skchange's PELT with its matching cost. Most starts of a
long segment survive the inequality rule alone; the models' own pruning tests
remove them (the native build/bench/rare_change_benchmark prints the starts
kept per step).

usage: bench_costs.py [tables|scaling|rare|all]   (default all)
Environment: SIZES (10000,100000,1000000), LIMIT_S (60), MODELS, SEARCHES,
PEERS_HOME (/tmp/tarnwell-peers).
"""

import json
import math
import os
import subprocess
import sys

import numpy as np

import tarnwell
from timing import best_time

MODELS = {
    "l1": lambda d: tarnwell.CostL1(),
    "rank": lambda d: tarnwell.CostRank(),
    "normal": lambda d: tarnwell.CostNormal(),
    "mahalanobis": lambda d: tarnwell.CostMahalanobis(np.eye(d)),
}


def piecewise(n, d, seed=0):
    rng = np.random.default_rng(seed)
    levels = np.repeat(rng.normal(scale=3.0, size=(6, d)), -(-n // 6), axis=0)[:n]
    return levels + rng.normal(size=(n, d))


def error_table():
    print(f"{'model':<12} {'d':>3} {'us/error':>9}")
    for model, make in MODELS.items():
        for d in (1, 5, 20):
            cost = make(d).fit(piecewise(2000, d))
            starts = np.random.default_rng(1).integers(0, 1900, size=2000).tolist()

            def run():
                for start in starts:
                    cost.error(start, start + 100)

            seconds, _ = best_time(run, 3)
            print(f"{model:<12} {d:>3} {seconds / len(starts) * 1e6:>9.2f}")


def search_table():
    print(f"\n{'model':<12} {'search':<7} {'n':>5} {'ms':>9} {'growth':>7}")
    for model in MODELS:
        for name, run in (
            ("Pelt", lambda x: tarnwell.Pelt(model=model, min_size=2).fit(x).predict(pen=3 * np.log(len(x)))),
            ("Dynp", lambda x: tarnwell.Dynp(model=model, min_size=2).fit(x).predict(n_bkps=5)),
        ):
            previous = None
            for n in (1000, 2000):
                x = piecewise(n, 2)
                # L1 walks every candidate segment: a single run says enough.
                seconds, _ = best_time(lambda: run(x), 1 if model == "l1" else 3)
                growth = f"x{seconds / previous:.1f}" if previous else ""
                print(f"{model:<12} {name:<7} {n:>5} {seconds * 1e3:>9.1f} {growth:>7}")
                previous = seconds


HERE = os.path.dirname(os.path.abspath(__file__))
PROJECT = os.path.dirname(HERE)
WORKER = os.path.join(HERE, "peers", "cost_worker.py")
PEER_PYTHON = os.path.join(os.environ.get("PEERS_HOME", "/tmp/tarnwell-peers"), "venv", "bin", "python")
DEV_BUILD = os.path.join(PROJECT, "build", "dev")
SIZES = [int(s) for s in os.environ.get("SIZES", "10000,100000,1000000").split(",")]
LIMIT_S = float(os.environ.get("LIMIT_S", "60"))
ALL_MODELS = ["l2", "l1", "rank", "normal", "linear", "ar", "clinear", "mahalanobis"]
SCALING_MODELS = os.environ.get("MODELS", ",".join(ALL_MODELS)).split(",")
SCALING_SEARCHES = os.environ.get("SEARCHES", "Pelt,Binseg,BottomUp,Window,Dynp").split(",")
SKCHANGE_MODELS = {"l2", "l1", "rank", "normal", "linear"}
# How much longer a case runs at ten times the size (quadratic searches).
GROWTH = {"Dynp": 100, "clinear Pelt": 100}


def scaling_signal(n, model, spacing):
    """Levels uniform in [-5, 5] changing every `spacing` samples plus unit
    noise; for linear, a response whose slope on a second feature changes."""
    path = os.path.join(os.environ.get("DATA_DIR", "/tmp/tarnwell-bench-costs"), f"{model == 'linear'}_{n}_{spacing}.npy")
    if not os.path.exists(path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        rng = np.random.default_rng(1)
        levels = rng.uniform(-5, 5, size=n // spacing + 1)[np.arange(n) // spacing]
        if model == "linear":
            design = rng.standard_normal(n)
            signal = np.column_stack([levels * design + rng.standard_normal(n), design])
        else:
            signal = levels + rng.standard_normal(n)
        np.save(path, signal)
    return path


def run_case(package, search, model, path, argument):
    python = sys.executable if package == "tarnwell" else PEER_PYTHON
    env = dict(os.environ)
    if package == "tarnwell" and os.path.isdir(os.path.join(DEV_BUILD, "tarnwell")):
        env["PYTHONPATH"] = DEV_BUILD
    try:
        done = subprocess.run([python, WORKER, package, search, model, path, repr(argument)], capture_output=True,
                              text=True, env=env, timeout=10 * LIMIT_S)
    except subprocess.TimeoutExpired:
        return {"error": "timed out"}
    if done.returncode != 0:
        return {"error": done.stderr.strip()[-200:]}
    return json.loads(done.stdout.strip().splitlines()[-1])


def scaling_cases():
    for search in SCALING_SEARCHES:
        for model in SCALING_MODELS:
            if search == "Pelt":
                for spacing in (100, 1000):
                    yield "tarnwell", search, model, spacing
                    if model in SKCHANGE_MODELS and os.path.exists(PEER_PYTHON):
                        yield "skchange", search, model, spacing
            else:
                yield "tarnwell", search, model, None


def cell(outcome, n):
    if outcome is None:
        return "—"
    seconds = outcome["time"]
    shown = f"{seconds * 1e3:.1f} ms" if seconds < 1 else f"{seconds:.2f} s"
    return f"{shown} ({seconds / n * 1e6:.2f} µs)"


def readme_table(results):
    """The rows of the scaling table side by side, as the performance page of the documentation shows them."""
    sizes = "| ".join(f"n = {n:,} " for n in SIZES)
    peers = "| ".join(f"skchange {n:,} " for n in SIZES)
    print(f"\n| search | model | changes | {sizes}| {peers}| peak RSS at {SIZES[-1]:,} |")
    print("|---" * (4 + 2 * len(SIZES)) + "|")
    for search in SCALING_SEARCHES:
        for model in SCALING_MODELS:
            for spacing in ((100, 1000) if search == "Pelt" else (None,)):
                own = [results.get(("tarnwell", search, model, spacing, n)) for n in SIZES]
                peer = [results.get(("skchange", search, model, spacing, n)) for n in SIZES]
                changes = f"every {spacing:,}" if spacing else "20 changes"
                peer_cells = [cell(o, n) for o, n in zip(peer, SIZES)] if search == "Pelt" and model in SKCHANGE_MODELS \
                    else [""] * len(SIZES)
                rss = f"{own[-1]['peak_rss_kib'] / 1024:.0f} MiB" if own[-1] else ""
                print(f"| {search} | {model} | {changes} | " + " | ".join(cell(o, n) for o, n in zip(own, SIZES)) +
                      " | " + " | ".join(peer_cells) + f" | {rss} |")


def timed_rows(cases, results, growth_of=None):
    """Runs (package, search, model, spacing, changes) cases over SIZES, each
    size skipped where the previous one's time times the expected growth
    exceeds LIMIT_S (the growth per tenfold size from `growth_of(package,
    model)` where given); prints a row per run and keeps its outcome."""
    for package, search, model, spacing, changes in cases:
        previous = None
        for index, n in enumerate(SIZES):
            ratio = n / SIZES[index - 1] if index > 0 else 1
            expected = growth_of(package, model) if growth_of else None
            growth = (expected or GROWTH.get(search, GROWTH.get(f"{model} {search}", 10))) * ratio / 10
            every = spacing or -(-n // (changes + 1))
            label = f"| {package} | {search} | {model} | {every:,} | {n:,} "
            if previous is not None and previous * growth > LIMIT_S:
                print(label + "| skipped | | | |", flush=True)
                previous = math.inf
                continue
            path = scaling_signal(n, model, every)
            if search != "Pelt":
                argument = changes
            else:
                d = 2 if model == "linear" else 1
                argument = 3 * math.log(n) * (1 + d) if spacing is None else 3 * math.log(n)
            outcome = run_case(package, search, model, path, argument)
            if "error" in outcome:
                print(label + f"| failed: {outcome['error'].splitlines()[-1] if outcome['error'] else ''} | | | |",
                      flush=True)
                previous = math.inf
                continue
            seconds = outcome["time"]
            previous = seconds
            results[(package, search, model, spacing or f"{changes} changes", n)] = outcome
            shown = f"{seconds * 1e3:.1f} ms" if seconds < 1 else f"{seconds:.2f} s"
            print(label + f"| {shown} | {seconds / n * 1e6:.2f} us | {len(outcome['changes'])} | "
                  f"{outcome['peak_rss_kib'] / 1024:.0f} MiB |", flush=True)


HEADER = "\n| package | search | model | change every | n | time | per sample | changes found | peak RSS |\n" \
         "|---|---|---|---|---|---|---|---|---|"


def scaling_table():
    results = {}
    print(f"load average at the start: {os.getloadavg()[0]:.2f}")
    print(HEADER)
    timed_rows(((package, search, model, spacing, 20) for package, search, model, spacing in scaling_cases()), results)
    print(f"load average at the end: {os.getloadavg()[0]:.2f}")
    readme_table(results)


def rare_table():
    """Two and ten changes in long signals: the rows of the rare-change table."""
    results = {}
    print(f"load average at the start: {os.getloadavg()[0]:.2f}")
    print(HEADER)
    peer = os.path.exists(PEER_PYTHON)
    cases = [(package, "Pelt", model, None, changes) for model in SCALING_MODELS for changes in (2, 10)
             for package in ("tarnwell", "skchange") if package == "tarnwell" or (peer and model in SKCHANGE_MODELS)]
    # skchange's PELT keeps every start of a long segment, and so do the
    # models without a test that drops starts (l1 evaluates few, clinear all).
    timed_rows(cases, results, lambda package, model: 100 if package == "skchange" or model in ("l1", "clinear")
               else 20 if model == "ar" else None)
    print(f"load average at the end: {os.getloadavg()[0]:.2f}")
    sizes = "| ".join(f"n = {n:,} " for n in SIZES)
    print(f"\n| model | changes | package | {sizes}| peak RSS at the largest |")
    print("|---" * (4 + len(SIZES)) + "|")
    for package, _, model, _, changes in cases:
        own = [results.get((package, "Pelt", model, f"{changes} changes", n)) for n in SIZES]
        largest = next((o for o in reversed(own) if o), None)
        rss = f"{largest['peak_rss_kib'] / 1024:.0f} MiB" if largest else ""
        print(f"| {model} | {changes} | {package} | " + " | ".join(cell(o, n) for o, n in zip(own, SIZES)) +
              f" | {rss} |")


if __name__ == "__main__":
    which = sys.argv[1] if len(sys.argv) > 1 else "all"
    if which in ("tables", "all"):
        error_table()
        search_table()
    if which in ("scaling", "all"):
        scaling_table()
    if which in ("rare", "all"):
        rare_table()
