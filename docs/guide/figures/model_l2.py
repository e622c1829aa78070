import tarnwell
signal, truth = tarnwell.pw_constant(500, n_features=1, n_bkps=3, noise_std=1.0, seed=4)
tarnwell.detect(signal, model="l2").plot(true_breakpoints=truth, title='model="l2"', figsize=(8, 2.2))
