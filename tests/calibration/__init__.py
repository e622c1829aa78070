"""Generated series with known changes, scored: the suite the default penalty was calibrated on (benchmarks/defaults/run.py runs it whole)."""
