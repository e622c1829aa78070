import numpy as np
import tarnwell
rng = np.random.default_rng(5)
signal = np.repeat([0.0, 3.0, 1.0], [200, 150, 150]) + rng.standard_t(3, 500)
signal[rng.choice(500, 8, replace=False)] += 12.0      # a few outliers
tarnwell.detect(signal, model="l1").plot(true_breakpoints=[200, 350, 500], title='model="l1"',
                                         figsize=(8, 2.2))
