import re
from pathlib import Path

import pytest

README = Path(__file__).resolve().parent.parent / "README.md"
BLOCKS = re.findall(r"```python\n(.*?)```", README.read_text(), flags=re.S)


def test_readme_python_examples_run_in_order(tmp_path, monkeypatch):
    pytest.importorskip("pandas")
    pytest.importorskip("matplotlib")
    monkeypatch.chdir(tmp_path)
    namespace: dict = {}
    ran = 0
    for block in BLOCKS:
        if "LocalCluster" in block:
            continue  # the same calls run in test_many's Dask test
        exec(compile(block, str(README), "exec"), namespace)
        ran += 1
    assert ran >= 6
    assert namespace["result"].breakpoints == [126, 277, 325, 401, 600]
    assert (tmp_path / "changes.png").stat().st_size > 0
