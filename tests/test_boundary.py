"""The call boundary as a whole: what the stubs promise, hostile arguments,
memory exhaustion on the way in, and what the extension exports."""

import ast
import inspect
import os
import pathlib
import shutil
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import tarnwell
from tarnwell import _tarnwell

STUB = pathlib.Path(tarnwell.__file__).with_name("_tarnwell.pyi")


def stub_definitions():
    tree = ast.parse(STUB.read_text())
    classes, functions = {}, {}
    for node in tree.body:
        if isinstance(node, ast.ClassDef):
            members = {}
            for base in node.bases:  # stub-only base classes share members
                if isinstance(base, ast.Name) and base.id in classes:
                    members.update(classes[base.id])
            members.update({item.name: item for item in node.body if isinstance(item, ast.FunctionDef)})
            classes[node.name] = members
        elif isinstance(node, ast.FunctionDef):
            functions[node.name] = node
    return classes, functions


def stub_parameters(function, drop_self):
    arguments = function.args
    positional = arguments.args[1:] if drop_self else arguments.args
    defaults = [None] * (len(positional) - len(arguments.defaults)) + list(arguments.defaults)
    shown = []
    for argument, default in zip(positional, defaults):
        shown.append((argument.arg, None if default is None else ast.literal_eval(default)))
    if arguments.kwarg is not None:  # **params
        shown.append((arguments.kwarg.arg, None))
    return shown


def runtime_parameters(callable_object):
    shown = []
    for parameter in inspect.signature(callable_object).parameters.values():
        default = None if parameter.default is inspect.Parameter.empty else parameter.default
        shown.append((parameter.name, default))
    return shown


CLASSES, FUNCTIONS = stub_definitions()


@pytest.mark.parametrize("name", sorted(name for name in CLASSES if name[0] != "_" and name != "TarnwellError"))
def test_stub_classes_match_the_module(name):
    cls = getattr(_tarnwell, name)
    methods = CLASSES[name]
    # The constructors run in __new__ (the stub says so, for stubtest).
    constructor = methods.get("__new__") or methods["__init__"]
    assert runtime_parameters(cls) == stub_parameters(constructor, drop_self=True)
    for method_name, definition in methods.items():
        if method_name in ("__init__", "__new__") or any(
            isinstance(d, ast.Name) and d.id == "property" for d in definition.decorator_list
        ):
            continue
        bound = getattr(cls, method_name)
        assert runtime_parameters(bound)[1:] == stub_parameters(definition, drop_self=True), method_name


@pytest.mark.parametrize("name", sorted(FUNCTIONS))
def test_stub_functions_match_the_module(name):
    assert runtime_parameters(getattr(_tarnwell, name)) == stub_parameters(FUNCTIONS[name], drop_self=False)


def test_every_public_name_has_a_stub():
    stubbed = set(CLASSES) | set(FUNCTIONS) | {"__version__", "CostMl"}
    assert set(_tarnwell.__all__) <= stubbed


class IndexThatEmptiesItsList:
    def __init__(self, owner):
        self.owner = owner

    def __index__(self):
        self.owner.clear()
        return 1


class IndexThatGrowsItsList:
    def __init__(self, owner):
        self.owner = owner

    def __index__(self):
        self.owner.extend(range(10**5))
        return 1


@pytest.mark.parametrize("mutation", [IndexThatEmptiesItsList, IndexThatGrowsItsList])
@pytest.mark.parametrize(
    "call",
    [
        lambda values: tarnwell.hausdorff(values, [199999]),
        lambda values: tarnwell.precision_recall(values, [199999]),
        lambda values: tarnwell.rand_index(values, [199999]),
        lambda values: tarnwell.CostL2().fit(np.zeros(199999)).sum_of_costs(values),
    ],
)
def test_elements_that_change_their_list_cannot_corrupt_the_read(mutation, call):
    values = []
    values.extend([mutation(values)] + list(range(2, 200000)))
    # The list is read as it was when the call began.
    assert call(values) == call([1] + list(range(2, 200000)))


def run_limited(setup, script, limit_mib):
    """Runs `script` after `setup` with the address space capped at the usage then plus `limit_mib`."""
    code = "\n".join(
        [
            "import resource, sys",
            "import numpy as np",
            "import tarnwell",
            textwrap.dedent(setup),
            "with open('/proc/self/statm') as statm:",
            "    limit = int(statm.read().split()[0]) * resource.getpagesize() + %d * 2**20" % limit_mib,
            "resource.setrlimit(resource.RLIMIT_AS, (limit, limit))",
            textwrap.dedent(script),
            "print('alive')",
        ]
    )
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)


@pytest.mark.parametrize(
    "setup, script",
    [
        # Converting 2**25 Python integers needs a 256 MiB snapshot and as much again.
        (
            "values = [1] * 2**25",
            """
            try:
                tarnwell.hausdorff(values, [1])
            except MemoryError:
                print("memory error")
            """,
        ),
        # Casting 2**26 int64 breakpoints to uint64 needs 512 MiB.
        (
            "values = np.ones(2**26, dtype=np.int64)",
            """
            try:
                tarnwell.rand_index(values, [1])
            except MemoryError:
                print("memory error")
            """,
        ),
        # Fitting a broadcast view copies 8 TiB of samples.
        (
            "view = np.broadcast_to(0.5, (2**40,))",
            """
            for search in (tarnwell.Pelt(), tarnwell.Dynp(), tarnwell.Binseg(), tarnwell.CostL2()):
                try:
                    search.fit(view)
                except MemoryError:
                    print("memory error")
            """,
        ),
    ],
)
@pytest.mark.skipif(os.environ.get("TARNWELL_SANITIZED") == "1", reason="the address sanitizer needs the address space")
def test_memory_exhaustion_is_a_memory_error_and_the_process_lives(setup, script):
    outcome = run_limited(setup, script, limit_mib=128)
    assert outcome.returncode == 0, outcome.stderr
    assert "memory error" in outcome.stdout and outcome.stdout.split()[-1] == "alive"
    assert "panic" not in outcome.stderr


@pytest.mark.skipif(shutil.which("nm") is None, reason="needs nm")
def test_extension_exports_only_its_init_function():
    listing = subprocess.run(["nm", "-D", "--defined-only", _tarnwell.__file__], capture_output=True, text=True)
    names = [line.split()[-1] for line in listing.stdout.splitlines() if line.strip()]
    assert names == ["PyInit__tarnwell"]
