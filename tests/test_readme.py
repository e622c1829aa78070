"""Every Python example of the README and of the documentation's pages runs
as a script on its own, and prints what its comments say (``print(x)  #
expected`` lines)."""

import contextlib
import importlib.util
import io
import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
README = ROOT / "README.md"
PAGES = [README, *sorted((ROOT / "docs").rglob("*.md"))]
EXAMPLES = [(page, block) for page in PAGES
            for block in re.findall(r"```python\n(.*?)```", page.read_text(), flags=re.S)]
BLOCKS = [block for _, block in EXAMPLES]
PRINTED = re.compile(r"^\s*print\(.*\)\s+#\s?(.*?)\s*$")


def expected_lines(block):
    """The comments of the print lines: the first words of what each prints."""
    return [match.group(1) for line in block.splitlines() if (match := PRINTED.match(line))]


def imported(block):
    return {name.split(".")[0] for name in re.findall(r"^(?:import|from) ([\w.]+)", block, flags=re.M)}


def test_every_example_prints_what_it_says():
    in_readme = [block for page, block in EXAMPLES if page == README]
    assert len(in_readme) == 3 and len(BLOCKS) >= 12
    assert all(expected_lines(block) for block in BLOCKS), "an example prints nothing to check"


def test_readme_stays_short():
    assert len(README.read_bytes()) <= 10 * 1024


@pytest.mark.parametrize("page, block", EXAMPLES,
                         ids=[f"{page.stem}-{i}" for i, (page, _) in enumerate(EXAMPLES)])
def test_example_runs_as_a_script(page, block, tmp_path, monkeypatch):
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
            exec(compile(block, str(page), "exec"), {"__name__": "__main__"})
        out = buffer.getvalue()
    printed = out.splitlines()
    expected = expected_lines(block)
    assert len(printed) == len(expected), out
    for shown, comment in zip(printed, expected):
        # The comment is the printed value, then perhaps a few words about it.
        rest = comment[len(shown):] if comment.startswith(shown) else None
        assert rest is not None and (not rest or not rest[0].isalnum()), (shown, comment)
