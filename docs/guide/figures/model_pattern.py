import numpy as np
import tarnwell
rng = np.random.default_rng(4)
steps = np.cumsum(np.concatenate([np.full(800, 1 / 30), np.full(800, 1 / 17)])) * 2 * np.pi
signal = np.sin(steps) + 0.4 * np.sin(2 * steps) + 0.1 * rng.normal(size=1600)
tarnwell.detect(signal, model="pattern").plot(true_breakpoints=[800, 1600], title='model="pattern"',
                                              figsize=(8, 2.2))
