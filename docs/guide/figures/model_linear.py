import numpy as np
import tarnwell
rng = np.random.default_rng(1)
x = rng.normal(size=400)
slope = np.repeat([1.0, -1.0], 200)
signal = np.column_stack([slope * x + 0.2 * rng.normal(size=400), x])
tarnwell.detect(signal, model="linear").plot(true_breakpoints=[200, 400], title='model="linear"',
                                             figsize=(8, 3))
