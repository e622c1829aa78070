import concurrent.futures
import copy
import copyreg
import inspect
import pickle
import re
from pathlib import Path

import numpy as np
import pytest

import tarnwell
import tarnwell._tarnwell as native


def test_package_reexports_the_extension():
    assert tarnwell.__all__[:len(native.__all__)] == native.__all__
    assert {"detect", "detect_many", "plot", "penalty"} <= set(tarnwell.__all__)
    assert tarnwell.__version__ == native.__version__
    for name in native.__all__:
        assert getattr(tarnwell, name) is getattr(native, name)


def test_version_is_written_once_and_has_a_changelog_entry():
    root = Path(__file__).resolve().parent.parent
    written = re.findall(r'module_version = "([^"]+)"', (root / "src/python/mod/version.hpp").read_text())
    releases = re.findall(r"^## (\d+\.\d+\.\d+) \((\d{4}-\d\d-\d\d)\)$", (root / "CHANGELOG.md").read_text(),
                          flags=re.MULTILINE)
    assert written == [native.__version__]
    assert releases and releases[0][0] == native.__version__, "the changelog's first entry is this version"
    assert [r[1] for r in releases] == sorted((r[1] for r in releases), reverse=True)


def test_all_starts_with_error_and_version():
    assert native.__all__[:2] == ["TarnwellError", "__version__"]
    assert native.__all__.index("version") < native.__all__.index("validate_signal")
    assert len(native.__all__) == len(set(native.__all__))


def test_error_class():
    error = native.TarnwellError
    assert RuntimeError in error.__mro__
    assert error.__module__ == "_tarnwell"
    assert error.__name__ == "TarnwellError"
    assert error.__doc__ is None


def test_version_function():
    assert native.version() == native.__version__
    with pytest.raises(TypeError):
        native.version(1)
    with pytest.raises(TypeError):
        native.version(extra=1)


@pytest.mark.parametrize(
    "function, text",
    [(native.version, "()"), (native.validate_signal, "(signal)")],
)
def test_text_signatures(function, text):
    assert str(inspect.signature(function)) == text


def raise_numerical_failure():
    # Squares of 1.3e154 fit the double range, their sum does not: the
    # search meets a non-finite segment cost.
    native.Dynp(min_size=1, jump=1).fit(np.r_[np.zeros(3), [1.3e154] * 2, np.zeros(15)]).predict(1)


@pytest.mark.parametrize("args", [("numerical failure while fitting",), (), ("a", 2)])
def test_errors_pickle_with_type_args_and_attributes(args):
    error = native.TarnwellError(*args)
    error.detail = [1, 2]
    for copied in (pickle.loads(pickle.dumps(error, protocol)) for protocol in range(pickle.HIGHEST_PROTOCOL + 1)):
        assert type(copied) is native.TarnwellError
        assert copied.args == args and copied.detail == [1, 2]
    assert copy.copy(error).args == args


def test_errors_cross_a_process_pool():
    with pytest.raises(native.TarnwellError) as raised:
        raise_numerical_failure()
    with concurrent.futures.ProcessPoolExecutor(max_workers=1) as pool:
        with pytest.raises(native.TarnwellError) as crossed:
            pool.submit(raise_numerical_failure).result()
    assert crossed.value.args == raised.value.args


def test_errors_pickle_under_a_reducer_that_names_the_class(monkeypatch):
    # As tblib (used by dask) installs for every exception class.
    monkeypatch.setitem(copyreg.dispatch_table, native.TarnwellError, lambda error: (type(error), error.args))
    copied = pickle.loads(pickle.dumps(native.TarnwellError("x")))
    assert type(copied) is native.TarnwellError and copied.args == ("x",)
