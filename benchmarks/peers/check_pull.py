"""Reads a `pip install --dry-run --report` JSON and refuses unknown packages.

Everything pip would install must be one of the peers this benchmark may
install or a known general-purpose dependency; anything else (another
change-point package pulled in as a dependency, test or development extras) is
printed and the exit status is 1, so that setup.sh does not install that requirement.
"""
import json
import re
import sys

PEERS = {"skchange", "fastcpd", "changepoint-cython"}
GENERAL = {"numpy", "scipy", "scikit-learn", "joblib", "threadpoolctl", "narwhals", "cloudpickle",
           "numba", "llvmlite", "pandas", "python-dateutil", "six", "tzdata", "cython",
           "setuptools", "wheel", "packaging"}

report = json.load(open(sys.argv[1]))
names = sorted(re.sub(r"[-_.]+", "-", item["metadata"]["name"]).lower() for item in report["install"])
unknown = [name for name in names if name not in PEERS | GENERAL]
print("would pull:", " ".join(f"{it['metadata']['name']}=={it['metadata']['version']}" for it in report["install"]))
if unknown:
    print("REFUSED: would also pull", ", ".join(unknown), "(neither a peer nor a known general dependency)")
    sys.exit(1)
