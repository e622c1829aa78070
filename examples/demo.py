"""Detects the changes of a generated piecewise-constant signal and prints them."""

import numpy as np

import tarnwell

signal, truth = tarnwell.pw_constant(2000, n_features=2, n_bkps=4, noise_std=1.0, seed=5)
n_samples, n_features = tarnwell.validate_signal(signal)
n_changes = len(truth) - 1

print(f"tarnwell {tarnwell.version()}: {n_samples} samples, {n_features} features")
print(f"{'true breakpoints':<26} {truth}")


def report(name, found):
    precision, recall = tarnwell.precision_recall(truth, found, margin=10)
    print(f"{name:<26} {found}  (precision {precision:.2f}, recall {recall:.2f}, "
          f"Hausdorff {tarnwell.hausdorff(truth, found):.0f})")


pen = 3 * n_features * np.log(n_samples)
report("Pelt(pen=3 d ln n)", tarnwell.Pelt(model="l2", min_size=2, jump=1).fit_predict(signal, pen))
if hasattr(tarnwell, "Dynp"):
    report(f"Dynp(n_bkps={n_changes})", tarnwell.Dynp(model="l2", min_size=2, jump=5).fit_predict(signal, n_changes))

# The greedy searches on the same signal, with the change count and the penalty.
for greedy in ("Binseg", "BottomUp", "Window"):
    if not hasattr(tarnwell, greedy):
        continue
    make = getattr(tarnwell, greedy)
    search = (make(width=100, model="l2", min_size=2, jump=5) if greedy == "Window"
              else make(model="l2", min_size=2, jump=5)).fit(signal)
    report(f"{greedy}(n_bkps={n_changes})", search.predict(n_bkps=n_changes))
    report(f"{greedy}(pen=3 d ln n)", search.predict(pen=3 * n_features * np.log(n_samples)))

# Kernel detection with the default fused backend: the rbf kernel with the
# median bandwidth, then the linear kernel (equivalent to the squared error).
if hasattr(tarnwell, "KernelCPD"):
    for kernel in ("rbf", "linear"):
        search = tarnwell.KernelCPD(kernel=kernel, min_size=5).fit(signal)
        report(f"KernelCPD {kernel} n_bkps={n_changes}", search.predict(n_bkps=n_changes))
        report(f"KernelCPD {kernel} pen", search.predict(pen=3 * n_features * np.log(n_samples)
                                                              if kernel == "linear" else 2.0))

# The user's layer: one call from any array-like, with the default penalty,
# then a saved picture (when matplotlib is installed).
print()
result = tarnwell.detect(signal.tolist(), method="pelt", jump=1)
print(f"{'detect(), default penalty':<26} {result.breakpoints}  (penalty {result.penalty:.1f}, "
      f"cost {result.cost:.1f})")
# The default is conservative (it is measured in the whole signal's variance);
# the penalty path shows every optimal alternative below and above it.
path = tarnwell.penalty.penalty_path(signal, result.penalty / 20, result.penalty * 5, jump=1)
print(f"{'penalty path':<26} " + ", ".join(f"{k} changes for pen in [{lo:.3g}, {hi:.3g}]"
                                          for k, lo, hi in zip(path.n_changes, path.pen_low, path.pen_high)
                                          if k <= 6))
elbow = path.elbow()
print(f"{'elbow of the path':<26} {path.breakpoints[elbow]}  ({path.n_changes[elbow]} changes)")
try:
    import matplotlib
except ImportError:
    print("(install matplotlib to save a plot)")
else:
    matplotlib.use("Agg")
    result.plot(true_breakpoints=truth).savefig("demo.png", dpi=80)
    print("saved demo.png (signal, true and detected change points)")

# Changes of covariance (pw_normal), with the squared error beside the
# Gaussian cost, the model made for them.
if hasattr(tarnwell, "CostNormal"):
    signal, truth = tarnwell.pw_normal(1000, n_features=2, n_bkps=2, seed=3)
    print(f"\n{'pw_normal breakpoints':<26} {truth}")
    for model in ("l2", "normal"):
        report(f"Dynp(model=\"{model}\")", tarnwell.Dynp(model=model, min_size=5, jump=5).fit_predict(signal, 2))
