"""A configured cost object in every model-based search, against its model
name and against the same object run as a Python cost.

    PYTHONPATH=build/dev .venv/bin/python benchmarks/bench_configured_costs.py [--signals 200] [--skip-identity]

First table, speed: for each cost class and each model-based search, the
CPU time of `Search(model=object)` over that of `Search(model=name)` on the
same signal, the median of interleaved runs. Rows marked "=" configure the
object exactly as the name does (the same statistics, the same search):
there the ratio measures the object's route alone, and the bar is 1.1. The
other rows are the configured objects of the identity table: a ridge of 1e-3
or a random metric changes the costs themselves (and with them Pelt's
pruning and the breakpoints; the Mahalanobis cost also has a shortcut for
the identity metric, O(d) per segment instead of O(d^2)), so their ratio
measures the parameter, not the route.

Second table, identity: for the same objects, the breakpoints of
`Search(model=object)` and of `Search(custom_cost=AsPythonCost(object))` (the
object's own segment costs through the Python custom-cost protocol) on
--signals random signals per class, searched with two stopping rules each;
the count of signals where they differ (the bar is 0).
"""

from __future__ import annotations

import argparse
import os
import statistics
import time

import numpy as np

import tarnwell
from tarnwell import _tarnwell


def metric(d: int) -> np.ndarray:
    a = np.random.default_rng(7).normal(size=(d, d))
    return a @ a.T + d * np.eye(d)


# (class, configured object, model name, features, samples for the speed table)
COSTS = [
    ("L2", lambda d: tarnwell.CostL2(), "l2", 1, 20000),
    ("L1", lambda d: tarnwell.CostL1(), "l1", 1, 5000),
    ("Rank", lambda d: tarnwell.CostRank(), "rank", 2, 5000),
    ("Normal(ridge=1e-3)", lambda d: tarnwell.CostNormal(ridge=1e-3), "normal", 2, 5000),
    ("Linear", lambda d: tarnwell.CostLinear(), "linear", 2, 3000),
    ("AR(order=4)", lambda d: tarnwell.CostAR(order=4), "ar", 1, 2000),
    ("CLinear", lambda d: tarnwell.CostCLinear(), "clinear", 1, 2000),
    ("Mahalanobis(metric)", lambda d: tarnwell.CostMahalanobis(metric(d)), "mahalanobis", 3, 5000),
]
# The rows of the speed table: (row, same configuration as the name).
SPEED_ROWS = [
    (COSTS[0], True), (COSTS[1], True), (COSTS[2], True),
    (("Normal(ridge=1e-6)", lambda d: tarnwell.CostNormal(ridge=1e-6), "normal", 2, 5000), True),
    (COSTS[3], False), (COSTS[4], True), (COSTS[5], True), (COSTS[6], True),
    (("Mahalanobis(identity)", lambda d: tarnwell.CostMahalanobis(np.eye(d)), "mahalanobis", 3, 5000), True),
    (COSTS[7], False),
]
SEARCHES = [entry["name"] for entry in _tarnwell._searches() if entry["model"]]


def signal(rng: np.random.Generator, n: int, d: int, changes: int) -> np.ndarray:
    cuts = np.sort(rng.choice(np.arange(n // 10, n - n // 10), size=changes, replace=False))
    lengths = np.diff([0, *cuts, n])
    levels = np.repeat(rng.normal(scale=3, size=(changes + 1, d)), lengths, axis=0)
    scales = np.repeat(rng.uniform(0.5, 2.0, size=(changes + 1, d)), lengths, axis=0)
    return levels + rng.normal(size=(n, d)) * scales


def rules(search: str, n: int) -> list[dict[str, float]]:
    if search == "Pelt":
        return [{"pen": 3.0 * np.log(n)}, {"pen": 30.0 * np.log(n)}]
    if search == "Dynp":
        return [{"n_bkps": 2}, {"n_bkps": 4}]
    return [{"n_bkps": 2}, {"pen": 10.0 * np.log(n)}]


def build(search: str, model: object = None, custom: object = None, min_size: int = 2, n: int = 0) -> object:
    extra = {"width": max(2 * min_size, min(100, n // 8) // 2 * 2)} if search == "Window" else {}
    if custom is not None:
        return getattr(tarnwell, search)(custom_cost=custom, min_size=min_size, jump=1, **extra)
    return getattr(tarnwell, search)(model=model, min_size=min_size, jump=1, **extra)


class AsPythonCost:
    """A built-in cost object behind the Python custom-cost protocol."""

    def __init__(self, cost: object, min_size: int) -> None:
        self.cost, self.min_size = cost, min_size

    def fit(self, x: np.ndarray) -> None:
        self.cost.fit(x)  # type: ignore[attr-defined]

    def error(self, start: int, end: int) -> float:
        return float(self.cost.error(start, end))  # type: ignore[attr-defined]


def outcome(estimator: object, rule: dict[str, float]) -> object:
    try:
        return estimator.predict(**rule)  # type: ignore[attr-defined]
    except ValueError as error:  # Window may find fewer peaks than n_bkps, alike for both
        return str(error)


def cpu(call, least: float = 0.02) -> float:
    """CPU seconds per call, over enough calls to take `least` seconds."""
    calls = 0
    start = time.process_time()
    while True:
        call()
        calls += 1
        spent = time.process_time() - start
        if spent >= least:
            return spent / calls


def speed_table(repeats: int) -> None:
    print("| cost | " + " | ".join(f"{s} object/name" for s in SEARCHES) + " |")
    print("|---|" + "---|" * len(SEARCHES))
    worst = 0.0
    for (label, make, name, d, n), same in SPEED_ROWS:
        x = signal(np.random.default_rng(1), n, d, 5)
        cells = []
        for search in SEARCHES:
            size = n if search != "Dynp" else min(n, 800)  # Dynp's tables grow with n^2
            y = x[:size]
            min_size = tarnwell.detection.default_min_size(name, d)
            rule = rules(search, size)[0]
            by_object = build(search, model=make(d), min_size=min_size, n=size).fit(y)
            by_name = build(search, model=name, min_size=min_size, n=size).fit(y)
            times: dict[str, list[float]] = {"object": [], "name": []}
            for _ in range(repeats):  # interleaved, so load changes hit both alike
                times["object"].append(cpu(lambda: outcome(by_object, rule)))
                times["name"].append(cpu(lambda: outcome(by_name, rule)))
            ratio = statistics.median(times["object"]) / statistics.median(times["name"])
            if same:
                worst = max(worst, ratio)
            cells.append(f"{ratio:.3f} ({statistics.median(times['name']) * 1e3:.1f} ms)")
        print(f"| {'= ' if same else ''}{label} | " + " | ".join(cells) + " |")
    print(f"\nworst ratio of the rows marked = {worst:.3f} (bar 1.1); the name's median CPU time in brackets")


def identity_table(count: int) -> None:
    print("| cost | " + " | ".join(SEARCHES) + " |")
    print("|---|" + "---|" * len(SEARCHES))
    total = 0
    for label, make, name, d, _ in COSTS:
        differ = {search: 0 for search in SEARCHES}
        rng = np.random.default_rng(len(label))
        min_size = tarnwell.detection.default_min_size(make(d), d)
        for _ in range(count):
            n = int(rng.integers(50, 90))
            x = signal(rng, n, d, int(rng.integers(1, 4)))
            for search in SEARCHES:
                native = build(search, model=make(d), min_size=min_size, n=n).fit(x)
                python = build(search, custom=AsPythonCost(make(d), min_size), min_size=min_size, n=n).fit(x)
                if any(outcome(native, r) != outcome(python, r) for r in rules(search, n)):
                    differ[search] += 1
        total += sum(differ.values())
        print(f"| {label} | " + " | ".join(f"{differ[s]} of {count}" for s in SEARCHES) + " |")
    print(f"\nsignals with different breakpoints: {total} (bar 0)")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--signals", type=int, default=200)
    parser.add_argument("--repeats", type=int, default=7)
    parser.add_argument("--skip-identity", action="store_true")
    args = parser.parse_args()
    print(f"load average before: {os.getloadavg()}\n")
    speed_table(args.repeats)
    if not args.skip_identity:
        print()
        identity_table(args.signals)
    print(f"\nload average after: {os.getloadavg()}")


if __name__ == "__main__":
    main()
