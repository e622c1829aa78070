import tarnwell
signal, truth = tarnwell.pw_normal(600, n_features=2, n_bkps=2, seed=2)
tarnwell.detect(signal, model="normal").plot(true_breakpoints=truth, title='model="normal"',
                                             figsize=(8, 3))
