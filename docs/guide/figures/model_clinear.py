import numpy as np
import tarnwell
rng = np.random.default_rng(5)
t = np.arange(400.0)
signal = np.interp(t, [0, 150, 280, 399], [0, 15, 5, 12]) + rng.normal(0, 1, 400)
tarnwell.detect(signal, model="clinear").plot(true_breakpoints=[150, 280, 400], title='model="clinear"',
                                              figsize=(8, 2.2))
