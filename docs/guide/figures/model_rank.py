import numpy as np
import tarnwell
rng = np.random.default_rng(3)
signal = np.exp(np.concatenate([rng.normal(0, 1, 250), rng.normal(1.0, 1, 250)]))
tarnwell.detect(signal, model="rank").plot(true_breakpoints=[250, 500], title='model="rank"',
                                           figsize=(8, 2.2))
