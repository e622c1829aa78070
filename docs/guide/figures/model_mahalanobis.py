import numpy as np
import tarnwell
rng = np.random.default_rng(8)
noise_covariance = np.array([[1.0, 0.9], [0.9, 1.0]])
signal = rng.multivariate_normal([0, 0], noise_covariance, 400)
signal[200:] += [0.8, -0.8]          # a shift across the noise's main direction
cost = tarnwell.CostMahalanobis(np.linalg.inv(noise_covariance))
found = tarnwell.Dynp(model=cost, jump=5).fit_predict(signal, n_bkps=1)
tarnwell.plot(signal, found, [200, 400], title="CostMahalanobis(inverse noise covariance)", figsize=(8, 3))
