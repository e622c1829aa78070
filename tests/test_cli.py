import json
import re
import os
import shutil
import signal
import subprocess
import sys
import threading
import time
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
    configured = run(files["csv"], "-c", "temperature", "--json", "--model", "ar", "--param", "order=2",
                     "--pen", "50")
    assert configured.returncode == 0, configured.stderr
    assert json.loads(configured.stdout)["model"] == "CostAR(order=2)"


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


@pytest.fixture(scope="module")
def gappy(tmp_path_factory):
    """Dates, two numeric columns with an empty cell (line 12) and an "NA" (line 52), a text column."""
    path = tmp_path_factory.mktemp("gappy") / "log.csv"
    rows = ["date,Level,Distance,site"]
    for i, day in enumerate(np.arange("2024-01-01", "2024-08-18", dtype="datetime64[D]")[:230]):
        level, distance = f"{VALUES[i]:.4f}", f"{10 + 2 * (i >= 100):.1f}"
        rows.append(f"{day},{'NA' if i == 50 else level},{'' if i == 10 else distance},north")
    path.write_text("\n".join(rows) + "\n")
    return path


def test_missing_values_are_refused_with_their_place(gappy, capsys):
    assert main([str(gappy)]) == 3
    err = capsys.readouterr().err
    assert "line 12, column 'Distance': missing value (2 missing in all)" in err and "--fill" in err


@pytest.mark.parametrize("fill, n_samples, extra", [
    ("linear", 230, {"filled_values": 2}),
    ("ffill", 230, {"filled_values": 2}),
    ("drop", 228, {"dropped_lines": [12, 52]}),
])
def test_filled_input_gives_labelled_output(gappy, fill, n_samples, extra, capsys):
    assert main([str(gappy), "--fill", fill, "--json"]) == 0
    out, err = capsys.readouterr()
    report = json.loads(out)
    assert report["columns"] == ["Level", "Distance"] and report["index"] == "date"     # no column dropped
    assert report["n_samples"] == n_samples and all(report[k] == v for k, v in extra.items())
    assert report["change_points"] == ["2024-03-21", "2024-04-10", "2024-05-20"]
    assert report["segments"][0] == {"start": "2024-01-01", "end": "2024-03-20",
                                      "n_samples": report["change_positions"][0]}
    assert "'site' holds text, not numbers: left out" in err                           # said, not silent


def test_index_option_and_plot_labels(gappy, files, monkeypatch, capsys):
    import matplotlib
    matplotlib.use("Agg")
    figures = []
    monkeypatch.setattr("tarnwell.cli._save", lambda figure, target: figures.append(figure))
    assert main([str(gappy), "--index", "date", "-c", "Distance", "--fill", "linear", "--plot", "x.png"]) == 0
    assert main([str(files["csv"]), "--index", "day", "-c", "temperature", "--plot", "y.png", "--json"]) == 0
    assert json.loads(capsys.readouterr().out.splitlines()[-1])["change_points"] == [80, 140]
    assert [ax.get_ylabel() for ax in figures[0].axes] == ["Distance"]
    assert figures[0].axes[0].xaxis.get_major_formatter().__class__.__name__.startswith("Auto")  # dates
    flat = files["root"] / "flat.csv"
    flat.write_text("a\n" + "\n".join(["1.0"] * 50) + "\n")
    assert main([str(flat), "--plot", "z.png"]) == 0
    assert figures[-1].axes[0].get_legend() is None        # nothing detected: no legend entry


def test_default_penalty_path_and_interruption(files, monkeypatch, capsys):
    assert main([str(files["npy"]), "--penalty-path", "--json"]) == 0
    path = json.loads(capsys.readouterr().out)
    assert path["n_changes"][path["elbow"]] == 2
    assert main([str(files["npy"]), "--penalty-path", "1"]) == 2

    def interrupted(*args, **kwargs):
        raise KeyboardInterrupt

    monkeypatch.setattr("tarnwell.cli.read_table", interrupted)
    assert main([str(files["npy"])]) == 130
    assert capsys.readouterr().err.splitlines()[-1] == "tarnwell: interrupted"



def test_an_unsorted_date_column_is_an_input_error(files, capsys):
    shuffled = files["root"] / "shuffled.csv"
    shuffled.write_text("when,x\n2024-01-01,1\n2024-01-03,2\n2024-01-02,3\n2024-01-04,4\n")
    assert main([str(shuffled)]) == 3
    assert "line 4: the index column 'when' is not sorted" in capsys.readouterr().err


@pytest.mark.parametrize("name, content, status, message", [
    ("empty.npy", np.array([]), 3, "must hold a non-empty .* shape \\(0,\\)"),
    ("words.npy", np.array(["a", "b", "c"]), 3, "must hold a non-empty .* dtype <U1"),
    ("delimiters.csv", ",,,\n, ,,\n,,,\n", 3, "missing value"),
    ("wide.csv", "a\n" + "1" * 140_000 + "x\n2\n", 3, "line 2, column 'a': '1{37}\\.\\.\\.' is not a number"),
    ("signal.npy", None, 2, "--plot: no folder"),
    ("names.csv", "a, a\n1,2\n3,4\n", 3, "the header names 'a' more than once"),
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


ONE_COLUMN = "x\n1\n1\nNA\n1\n5\n5\n5\n"


@pytest.mark.parametrize("content, args, status, n_samples, message", [
    # A row whose every cell is missing is a row with gaps, not a blank line.
    (ONE_COLUMN, [], 3, None, r"line 4, column 'x': missing value \(1 missing"),
    (ONE_COLUMN, ["--fill", "linear"], 0, 7, "filled 1 missing values"),
    ("x\n1\n1\n\n1\n5\n5\n5\n\n", ["--fill", "ffill"], 0, 7, "filled 1 missing values"),  # one column: an empty line is an empty cell
    ("a,b\n1,2\n,\n3,4\nnan,NA\n5,6\n", [], 3, None, r"line 3, column 'a': missing value \(4 missing"),
    ("a,b\n1,2\n,\n3,4\nnan,NA\n5,6\n", ["--fill", "drop"], 0, 3, r"dropped 2 rows .*lines 3, 5"),
    ("a,b\n1,2\n\n3,4\n5,6\n\n", [], 0, 3, r"skipped 1 blank lines between rows of data \(lines 3\)"),
    # Too large for a float: infinite, as 1e400 is.
    ("x\n1\n" + "9" * 310 + "\n2\n", [], 3, None, r"line 3, column 'x': the value is infinite"),
    # A column that counts up labels the rows.
    ("year,value\n" + "".join(f"{1950 + i},{i % 3}\n" for i in range(40)), ["--json"], 0,
     40, r"column 'year' counts up .*used as the index"),
    ("when,x\n2024-01-01,1\n2024-01-02,1\n2024-01-02,1\n2024-01-03,9\n2024-01-04,9\n", ["--json"], 0, 5,
     r"the index column 'when' repeats labels \(1 rows, the first 2024-01-02 00:00:00 on line 4\)"),
])
def test_rows_are_never_dropped_silently(tmp_path, capsys, content, args, status, n_samples, message):
    path = tmp_path / "input.csv"
    path.write_text(content)
    assert main([str(path), *args]) == status
    out, err = capsys.readouterr()
    assert re.search(message, err), err
    if status == 0 and "--json" in args:
        assert json.loads(out)["n_samples"] == n_samples
    elif status == 0:
        assert int(out.split()[-1]) == n_samples


def test_labelled_plain_output_and_the_year_index(tmp_path, capsys):
    years = tmp_path / "years.csv"
    noise = np.random.default_rng(4).normal(0, 0.3, 40)
    years.write_text("year,value\n" + "".join(f"{1950 + i},{5.0 * (i >= 20) + noise[i]:.3f}\n" for i in range(40)))
    assert main([str(years)]) == 0
    assert capsys.readouterr().out == "1970  (sample 20)\n"
    assert main([str(years), "--json"]) == 0
    report = json.loads(capsys.readouterr().out)
    assert report["index"] == "year" and report["columns"] == ["value"] and report["change_points"] == [1970]
    flat = tmp_path / "flat.csv"
    flat.write_text("when,x\n" + "".join(f"2024-01-{d:02d},1.0\n" for d in range(1, 11)))
    assert main([str(flat)]) == 0
    assert capsys.readouterr().out == "no change in 10 samples (when 2024-01-01 to 2024-01-10)\n"


@pytest.mark.parametrize("name, write, message", [
    ("empty.npy", lambda path: path.write_bytes(b""), "the file is empty or cut short"),
    ("pair.npy", lambda path: np.savez(open(path, "wb"), a=np.zeros(3), b=np.ones(3)), r"archive .*\.npz"),
])
def test_unreadable_arrays_are_input_errors(tmp_path, capsys, name, write, message):
    path = tmp_path / name
    write(path)
    done = run(path)
    assert done.returncode == 3 and done.stdout == ""
    assert re.fullmatch(f"tarnwell: error: .*{message}.*\n", done.stderr), done.stderr


def test_ctrl_c_during_a_long_csv_read_is_an_interruption(tmp_path):
    # About 100 MB, seconds of parsing: Ctrl-C in the middle of it
    # interrupts the read (the command then ends with status 130), instead
    # of reaching the user as a file that cannot be read.
    from tarnwell._table_input import read_table

    block = "".join(f"{i % 7}.125,{i % 5}.5,{i % 3}.25\n" for i in range(10_000))
    path = tmp_path / "long.csv"
    path.write_text("a,b,c\n" + block * 600)
    timer = threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT))
    started = time.monotonic()
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        read_table(str(path))
    assert time.monotonic() - started < 1.0
    timer.join()


def test_progress_goes_to_a_terminal_only(files, capsys):
    # Not a terminal here: a search that reports progress prints nothing more.
    assert main([str(files["npy"]), "-m", "dynp", "--n-bkps", "2"]) == 0
    assert "tarnwell: [" not in capsys.readouterr().err
