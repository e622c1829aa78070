import numpy as np
import tarnwell
rng = np.random.default_rng(2)
signal = np.zeros(600)
for t in range(2, 600):
    a = 1.6 if t < 300 else 0.2
    signal[t] = a * signal[t - 1] - 0.8 * signal[t - 2] + rng.normal()
tarnwell.detect(signal, model="ar").plot(true_breakpoints=[300, 600], title='model="ar"', figsize=(8, 2.2))
