import ast
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import tarnwell
import tarnwell._tarnwell as native

PACKAGE = Path(tarnwell.__file__).resolve().parent
STUB = PACKAGE / "_tarnwell.pyi"


def stub_tree():
    return ast.parse(STUB.read_text())


def test_stub_lists_and_defines_every_name_of_the_module():
    tree = stub_tree()
    listed = next(node.value for node in tree.body
                  if isinstance(node, ast.Assign) and node.targets[0].id == "__all__")
    assert [element.value for element in listed.elts] == native.__all__
    defined = {node.name for node in tree.body if isinstance(node, (ast.ClassDef, ast.FunctionDef))}
    defined |= {target.id for node in tree.body if isinstance(node, ast.AnnAssign) for target in [node.target]}
    # Aliases such as CostMl = CostMahalanobis.
    defined |= {target.id for node in tree.body if isinstance(node, ast.Assign)
                for target in node.targets if isinstance(target, ast.Name)}
    assert set(native.__all__) <= defined


def test_stub_sections_follow_the_module_lists():
    # A model or search added to the lists reaches the stub through make stub, not by hand.
    root = PACKAGE.parent
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(root), os.environ.get("PYTHONPATH", "")]))
    script = Path(__file__).resolve().parent.parent / "scripts" / "write_stub.py"
    checked = subprocess.run([sys.executable, str(script), "--check", str(PACKAGE)], env=env, capture_output=True,
                             text=True, timeout=120)
    assert checked.returncode == 0, checked.stdout + checked.stderr


@pytest.mark.skipif(shutil.which("mypy", path=str(Path(sys.executable).parent)) is None
                    and not __import__("importlib.util").util.find_spec("mypy"), reason="mypy is not installed")
def test_mypy_strict_and_stubtest_pass_on_the_package(tmp_path):
    root = PACKAGE.parent
    config = tmp_path / "mypy.ini"
    config.write_text(f"[mypy]\nstrict = True\ncache_dir = {Path(__file__).resolve().parent.parent / 'build' / '.mypy_cache'}\n")
    allowlist = Path(__file__).with_name("stubtest_allowlist.txt")
    # An installed package is found through site-packages (it ships py.typed);
    # a developer build directory through MYPYPATH.
    # The subprocesses run elsewhere: give them the tested package's absolute location.
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(root), os.environ.get("PYTHONPATH", "")]))
    if root.name != "site-packages":
        env["MYPYPATH"] = str(root)
    typed = subprocess.run([sys.executable, "-m", "mypy", "--config-file", str(config), "-p", "tarnwell"],
                           cwd=tmp_path, env=env, capture_output=True, text=True, timeout=300)
    assert typed.returncode == 0, typed.stdout + typed.stderr
    stubs = subprocess.run([sys.executable, "-m", "mypy.stubtest", "tarnwell", "--mypy-config-file", str(config),
                            "--allowlist", str(allowlist)], cwd=tmp_path, env=env, capture_output=True, text=True,
                           timeout=300)
    assert stubs.returncode == 0, stubs.stdout + stubs.stderr
