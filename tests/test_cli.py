import json
import re
import os
import shutil
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import tarnwell
from tarnwell.cli import main

PACKAGE_ROOT = str(Path(tarnwell.__file__).resolve().parent.parent)
LEVELS = np.repeat([0.0, 4.0, 0.5], [80, 60, 90])
VALUES = LEVELS + np.random.default_rng(9).normal(0, 0.5, LEVELS.size)


def run(*args, command=None):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([PACKAGE_ROOT, os.environ.get("PYTHONPATH", "")]))
    return subprocess.run([*(command or [sys.executable, "-m", "tarnwell"]), *map(str, args)],
                          capture_output=True, text=True, env=env, timeout=120)


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    root = tmp_path_factory.mktemp("cli")
    csv = root / "recording.csv"
    with csv.open("w") as handle:
        handle.write("day,temperature,site\n")
        for i, value in enumerate(VALUES):
            handle.write(f"{i},{float(value)!r},north\n")
    headerless = root / "plain.csv"
    headerless.write_text("\n".join(f"{float(v)!r};{-float(v)!r}" for v in VALUES) + "\n")
    npy = root / "signal.npy"
    np.save(npy, np.c_[VALUES, VALUES])
    return {"csv": csv, "plain": headerless, "npy": npy, "root": root}


@pytest.mark.parametrize("args", [
    ["{csv}", "-c", "temperature"],
    ["{csv}", "-c", "1"],
    ["{plain}", "-c", "0", "--jump", "1"],
    ["{plain}", "--delimiter", ";"],
    ["{npy}"],
    ["{npy}", "-c", "1", "-m", "dynp", "--n-bkps", "2", "--jump", "1"],
    ["{npy}", "-m", "binseg", "--pen", "20", "--jump", "1"],
    ["{npy}", "-m", "window", "--param", "width=40", "--n-bkps", "2", "--jump", "1"],
])
def test_prints_the_breakpoints(files, args, capsys):
    # In process: the same entry point as the console script, without an interpreter start per case.
    assert main([a.format(**files) for a in args]) == 0
    found = [int(b) for b in capsys.readouterr().out.split()]
    assert tarnwell.precision_recall([80, 140, 230], found, margin=5) == (1.0, 1.0)


def test_json_output_and_plot(files):
    target = files["root"] / "out.png"
    done = run(files["csv"], "-c", "temperature", "--json", "--jump", "1", "--plot", target)
    assert done.returncode == 0, done.stderr
    report = json.loads(done.stdout)
    assert report["breakpoints"] == [80, 140, 230] and report["change_points"] == [80, 140]
    assert report["columns"] == ["temperature"] and report["method"] == "Pelt" and report["penalty"] > 0
    assert target.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_penalty_path_table(files):
    done = run(files["npy"], "--penalty-path", "1", "1000", "--json", "--jump", "1")
    assert done.returncode == 0, done.stderr
    path = json.loads(done.stdout)
    assert path["n_changes"] == sorted(path["n_changes"], reverse=True) and 2 in path["n_changes"]


@pytest.mark.parametrize("args, status, text", [
    (["{root}/missing.csv"], 3, "no such file"),
    (["{csv}", "-c", "pressure"], 3, "no column 'pressure'.*temperature"),
    (["{csv}", "-c", "site"], 3, "not numbers"),
    (["{npy}", "-c", "7"], 3, "has 2 columns"),
    (["{npy}", "--pen", "-3"], 1, "penalty must be finite and positive"),
    (["{npy}", "-m", "nosuch"], 1, "unknown method"),
    (["{npy}", "--param", "width"], 1, "NAME=VALUE"),
    (["{npy}", "--param", "colour=red"], 1, "takes no parameter 'colour'"),
    (["{npy}", "-m", "dynp"], 1, "needs one of n_bkps"),
    (["{npy}", "--pen", "1", "--n-bkps", "2"], 2, "not allowed with"),
    (["{npy}", "--n-bkps", "two"], 2, "invalid int"),
])
def test_errors_have_messages_and_exit_codes(files, args, status, text, capsys):
    try:
        returned = main([a.format(**files) for a in args])
    except SystemExit as exit:  # argparse's own usage errors
        returned = exit.code
    assert returned == status
    out, err = capsys.readouterr()
    assert out == ""
    assert re.search(text, err), err


def test_exit_status_reaches_the_shell(files):
    assert run(files["root"] / "missing.csv").returncode == 3
    done = run(files["npy"], "--pen", "0")
    assert done.returncode == 1 and "penalty must be finite and positive" in done.stderr


def test_help_has_examples_and_the_console_script_works(files):
    done = run("--help")
    assert done.returncode == 0 and "examples:" in done.stdout and "exit status" in done.stdout
    script = shutil.which("tarnwell", path=str(Path(sys.executable).parent))
    if script is None:
        pytest.skip("the tarnwell console script is not installed next to this interpreter")
    done = run(files["npy"], command=[script])
    assert done.returncode == 0 and done.stdout.split()[-1] == "230"


@pytest.mark.parametrize("name, content, status, message", [
    ("empty.npy", np.array([]), 3, "holds an empty array of shape \\(0,\\)"),
    ("words.npy", np.array(["a", "b", "c"]), 3, "holds <U1 values, not real numbers"),
    ("delimiters.csv", ",,,\n, ,,\n,,,\n", 3, "holds no values, only delimiters"),
    ("wide.csv", "a\n" + "1" * 140_000 + "\n2\n", 3, "cannot read .* as CSV: field larger than field limit"),
    ("signal.npy", None, 2, "--plot: no folder"),
])
def test_unusable_inputs_give_one_line_and_their_exit_status(files, capsys, name, content, status, message):
    path = files["root"] / name
    if isinstance(content, str):
        path.write_text(content)
    elif content is not None:
        np.save(path, content)
    extra = ["--plot", str(files["root"] / "missing" / "out.png")] if content is None else []
    assert main([str(path), *extra]) == status
    captured = capsys.readouterr()
    assert captured.out == ""  # nothing printed before the failure (the result of a search included)
    assert re.fullmatch(f"tarnwell: error: .*{message}.*\n", captured.err)
