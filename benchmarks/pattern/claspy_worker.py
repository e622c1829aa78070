"""Runs ClaSP (the claspy package, its defaults) for run.py, inside the venv
that has claspy: reads series names on stdin, answers one JSON line per
series with the change points and the seconds fit_predict took. Only the
package's documented interface is used."""

import json
import sys
import time

import numpy as np
from claspy.segmentation import BinaryClaSPSegmentation


def main() -> None:
    series = np.load(sys.argv[1])
    # One small call first, so that compiling claspy's functions is not
    # counted in the first series' time.
    warm = np.sin(np.arange(2000) / 5.0) + np.random.default_rng(0).normal(size=2000) * 0.1
    BinaryClaSPSegmentation().fit_predict(warm)
    print(json.dumps({"ready": True}), flush=True)
    for line in sys.stdin:
        name = line.strip()
        x = series[name]
        start = time.perf_counter()
        try:
            found = [int(c) for c in BinaryClaSPSegmentation().fit_predict(x)]
            error = None
        except Exception as failure:  # reported, not hidden: a failure scores as no change
            found, error = [], f"{type(failure).__name__}: {failure}"
        seconds = time.perf_counter() - start
        print(json.dumps({"name": name, "change_points": found, "seconds": seconds, "error": error}), flush=True)


if __name__ == "__main__":
    main()
