"""Every Python example of the README runs as a script on its own, and
prints what its comments say (``print(x)  # expected`` lines)."""

import contextlib
import importlib.util
import io
import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

README = Path(__file__).resolve().parent.parent / "README.md"
BLOCKS = re.findall(r"```python\n(.*?)```", README.read_text(), flags=re.S)
PRINTED = re.compile(r"^\s*print\(.*\)\s+#\s?(.*?)\s*$")


def expected_lines(block):
    """The comments of the print lines: the first words of what each prints."""
    return [match.group(1) for line in block.splitlines() if (match := PRINTED.match(line))]


def imported(block):
    return {name.split(".")[0] for name in re.findall(r"^(?:import|from) ([\w.]+)", block, flags=re.M)}


def test_every_example_prints_what_it_says():
    assert len(BLOCKS) >= 10
    assert all(expected_lines(block) for block in BLOCKS), "an example prints nothing to check"


@pytest.mark.parametrize("block", BLOCKS, ids=[f"example-{i}" for i in range(len(BLOCKS))])
def test_readme_example_runs_as_a_script(block, tmp_path, monkeypatch):
    for module in imported(block):
        if importlib.util.find_spec(module) is None:
            pytest.skip(f"{module} is not installed")
    monkeypatch.chdir(tmp_path)
    if "LocalCluster" in block:  # worker processes import the script: a real file and interpreter
        script = tmp_path / "example.py"
        script.write_text(block)
        env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(Path(__import__("tarnwell").__file__).parent.parent),
                                                           os.environ.get("PYTHONPATH", "")]))
        done = subprocess.run([sys.executable, str(script)], capture_output=True, text=True, env=env, timeout=300)
        assert done.returncode == 0, done.stderr
        out = done.stdout
    else:
        buffer = io.StringIO()
        with contextlib.redirect_stdout(buffer):
            exec(compile(block, str(README), "exec"), {"__name__": "__main__"})
        out = buffer.getvalue()
    printed = out.splitlines()
    expected = expected_lines(block)
    assert len(printed) == len(expected), out
    for shown, comment in zip(printed, expected):
        # The comment is the printed value, then perhaps a few words about it.
        rest = comment[len(shown):] if comment.startswith(shown) else None
        assert rest is not None and (not rest or not rest[0].isalnum()), (shown, comment)
