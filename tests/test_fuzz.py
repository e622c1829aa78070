"""Random calls over the whole module surface with hostile arguments.

Every public function, constructor, method, property and representation of
the extension is found through `__all__` and `inspect.signature` (so classes
added later are covered without edits) and called with arguments drawn from
pools of plausible and adversarial values. A call may succeed, or raise one of
the documented exception types, or pass on the exception that one of the
test's own protocol objects raised. Anything else fails the test: another
exception type, an internal panic, an overlong message, a malformed result, a
caller array written to, or a crash of the whole process.

A small share of the calls runs the command line in-process on a file
drawn from a pool of damaged, odd and oversized inputs: it must end with one
of its exit statuses, never a traceback, and within a time bound.

A finding does not stop the run: the run goes on and ends with a summary
(calls made, outcomes, findings by class with a first example of each),
printed and, when there are findings, the reason the test fails.

The calls go round the targets in turn (every class, the functions with a
larger share, the command line with a small one), each target drawing from a
random stream of its own seeded by its name: a class added to the module gets
as many calls as each other class, and leaves the others' calls as they were.

The run is seeded. TARNWELL_FUZZ_CALLS sets its length (`make fuzz` runs a
long one; by default CALLS_PER_TARGET per target), TARNWELL_FUZZ_SEED its
seed, and TARNWELL_FUZZ_TRACE=1 prints each call to standard error before
making it, to find the call that crashes.
"""

import contextlib
import copy
import inspect
import io
import math
import os
import pickle
import random
import sys
import tempfile
import time
import warnings
import zlib
from fractions import Fraction
from pathlib import Path

import numpy as np
import pytest

from tarnwell import _tarnwell

CALLS_PER_TARGET = 1500
CALLS = os.environ.get("TARNWELL_FUZZ_CALLS")
SEED = int(os.environ.get("TARNWELL_FUZZ_SEED", "20261207"))
TRACE = os.environ.get("TARNWELL_FUZZ_TRACE") == "1"

# The names the module's lists accept: every model (and alias), every kernel.
MODEL_NAMES = [name for entry in _tarnwell._cost_models() for name in entry["names"]]
SEARCH_NAMES = [entry["name"].lower() for entry in _tarnwell._searches()]
KERNEL_NAMES = [kernel for entry in _tarnwell._searches() for kernel in entry["own_cost_penalties"]
                if kernel != entry["name"]]

DOCUMENTED = (TypeError, ValueError, OverflowError, MemoryError, RuntimeError, NotImplementedError)
LONGEST_MESSAGE = 2000
FUNCTION_TURNS = 4       # the functions' turns per round, against one per class
CLI_EVERY = 500          # calls per run of the command line
CLI_STATUSES = {0, 1, 2, 3}
CLI_SECONDS = 20.0       # a command on a small file that takes longer has stalled


class Hostile(Exception):
    """Raised by the fuzzer's own protocol objects; must come back unchanged."""


# Protocol objects that misbehave. Those that mutate reach the shared state
# through FUZZ, set by the driver.
FUZZ = None


class IndexRaises:
    def __index__(self):
        raise Hostile("__index__")


class IndexReturnsFloat:
    def __index__(self):
        return 2.5


class IndexOf:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value

    def __repr__(self):
        return f"IndexOf({self.value!r})"


class FloatRaises:
    def __float__(self):
        raise Hostile("__float__")


class FloatReturnsText:
    def __float__(self):
        return "1.0"


class FloatOf:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value

    def __repr__(self):
        return f"FloatOf({self.value!r})"


class IndexThatMutates:
    """Changes the list it sits in, or refits a live object, when read."""

    def __init__(self, value, owner=None):
        self.value, self.owner = value, owner

    def __index__(self):
        if self.owner is not None:
            self.owner.clear() if self.value % 2 else self.owner.extend(range(50))
        FUZZ.meddle()
        return self.value

    __float__ = lambda self: float(self.__index__())  # noqa: E731

    def __repr__(self):
        return f"IndexThatMutates({self.value})"


class LengthRaises(list):
    def __len__(self):
        raise Hostile("__len__")


class LengthLies:
    """A sequence whose length and items disagree."""

    def __len__(self):
        return 10

    def __getitem__(self, index):
        if index >= 3:
            raise IndexError(index)
        return index + 1


class ItemRaises:
    def __len__(self):
        return 3

    def __getitem__(self, index):
        raise Hostile("__getitem__")


class OddArray(np.ndarray):
    """An ndarray subclass whose Python-level protocols misbehave."""

    def __len__(self):
        raise Hostile("__len__")

    def __getitem__(self, index):
        raise Hostile("__getitem__")

    def __array__(self, *args, **kwargs):
        raise Hostile("__array__")


class TextSubclass(str):
    pass


class CustomCost:
    """A Python cost with selectable faults in its protocol."""

    def __init__(self, fault, min_size=2):
        self.fault, self.min_size = fault, min_size
        self.signal = None

    def fit(self, signal):
        if self.fault == "fit":
            raise Hostile("fit")
        if self.fault == "meddle":
            FUZZ.meddle()
        self.signal = np.asarray(signal)
        return self

    def error(self, start, end):
        if self.fault == "error":
            raise Hostile("error")
        if self.fault == "nan":
            return math.nan
        if self.fault == "text":
            return "cost"
        segment = self.signal[start:end]
        return float(((segment - segment.mean(axis=0)) ** 2).sum())

    def __repr__(self):
        return f"CustomCost({self.fault!r})"


def layouts(values):
    """The same values in every layout a caller may pass."""
    matrix = values.reshape(len(values), -1)
    yield values
    yield np.asfortranarray(matrix)
    yield matrix[::-1][::-1]
    yield np.repeat(matrix, 2, axis=0)[::2]
    yield values[::-1]
    readonly = values.copy()
    readonly.flags.writeable = False
    yield readonly
    buffer = np.zeros(values.size * 8 + 1, dtype=np.uint8)
    unaligned = np.frombuffer(buffer.data, dtype=np.float64, count=values.size, offset=1)
    unaligned.flags.writeable = True
    unaligned[:] = values.ravel()
    yield unaligned
    yield values.view(OddArray)
    yield values.astype(">f8")


def matrix(values):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", PendingDeprecationWarning)
        return np.matrix(values)


def make_signals(rng):
    shapes = [(1,), (2,), (5,), (17,), (40,), (80,), (3, 1), (30, 2), (60, 3), (25, 7)]
    contents = [
        lambda shape: rng.normal(size=shape),
        lambda shape: np.repeat(rng.integers(-3, 4, size=(4,) + shape[1:]), -(-shape[0] // 4), axis=0)[: shape[0]]
        .astype(float),
        lambda shape: np.zeros(shape),
        lambda shape: rng.normal(size=shape) * 1e150,
        lambda shape: rng.normal(size=shape) * 1e-150,
        lambda shape: rng.choice([1e308, -1e308], size=shape),
        lambda shape: rng.normal(size=shape) * 5e-324,
        lambda shape: rng.integers(0, 2, size=shape).astype(float) * 1e-7,
    ]
    plausible = [content(shape) for shape in shapes for content in contents]
    hostile = []
    for values in plausible[:: len(contents) + 1]:
        hostile.extend(layouts(values))
    with_nan = rng.normal(size=(20, 2))
    with_nan[7, 1] = math.nan
    with_inf = rng.normal(size=20)
    with_inf[19] = -math.inf
    hostile += [
        with_nan, with_inf, np.zeros(0), np.zeros((0, 3)), np.zeros((3, 0)), np.zeros((2, 3, 4)), np.float64(1.5),
        np.array(2.0), np.broadcast_to(math.nan, (2**40,)), np.broadcast_to(np.arange(3.0), (50, 3)),
        np.arange(10, dtype=np.float32), np.arange(10, dtype=np.float16), np.arange(10), np.arange(10, dtype=np.uint8),
        np.ones(10, dtype=bool), np.ones(10, dtype=complex), np.array([1.0, "a", None], dtype=object),
        np.array(["l2"]), np.arange(10).astype("datetime64[s]"), np.zeros(4, dtype=[("a", "f8"), ("b", "f8")]),
        np.ma.masked_array(np.arange(10.0), mask=[1, 0] * 5), matrix(np.arange(6.0).reshape(3, 2)),
        np.arange(10.0).tolist(), memoryview(np.arange(10.0)),
    ]
    return plausible, hostile


class Fuzzer:
    def __init__(self, seed):
        self.random = random.Random(seed)
        self.numpy = np.random.default_rng(seed)
        self.plausible_signals, self.hostile_signals = make_signals(self.numpy)
        self.signal_checksums = [self.checksum(signal) for signal in self.all_signals()]
        self.functions, self.classes = [], []
        for name in _tarnwell.__all__:
            member = getattr(_tarnwell, name)
            if isinstance(member, type) and not issubclass(member, BaseException) and member not in self.classes:
                self.classes.append(member)
            elif callable(member) and not isinstance(member, type):
                self.functions.append(member)
        self.members = {cls: self.members_of(cls) for cls in self.classes}
        self.instances = {cls: [] for cls in self.classes}
        self.sample_counts = {}  # id(instance) -> samples of its last successful fit
        self.meddling = False
        self.call_samples = 1
        self.findings = {}  # class -> (count, first example)
        self.folder = tempfile.TemporaryDirectory(prefix="tarnwell-fuzz-")
        # One turn per class and FUNCTION_TURNS for the functions, each
        # target with streams seeded by the run's seed and its name.
        self.targets = [cls.__name__ for cls in self.classes] + ["functions"] * (FUNCTION_TURNS if self.functions else 0)
        self.streams = {name: (random.Random(f"{seed}:{name}"), np.random.default_rng([seed, zlib.crc32(name.encode())]))
                        for name in {*self.targets, "command line"}}

    def use_stream(self, target):
        self.random, self.numpy = self.streams[target]

    @staticmethod
    def checksum(value):
        if isinstance(value, np.ndarray) and value.flags.writeable and value.dtype != object:
            return value.tobytes()
        return None

    def all_signals(self):
        return self.plausible_signals + self.hostile_signals

    @staticmethod
    def members_of(cls):
        methods, properties = [], []
        for name in sorted(dir(cls)):
            if name.startswith("_"):
                continue
            member = inspect.getattr_static(cls, name)
            if callable(member):
                methods.append((name, list(inspect.signature(getattr(cls, name)).parameters.values())[1:]))
            else:
                properties.append(name)
        return methods, properties

    # Values -----------------------------------------------------------------

    def integer(self):
        if self.random.random() < 0.8:
            return self.random.choice([0, 1, 1, 2, 2, 3, 4, 5, 7, 10, 20, 40, 100])
        return self.random.choice(
            [-1, -(2**63), 2**32, 2**40, 2**63 - 1, 2**63, 2**64 - 1, 2**64, 10**30, 10**5000, True, False,
             np.int64(-1), np.uint64(2**64 - 1), np.int8(3), IndexOf(3), IndexOf(-2), IndexOf(2**70), IndexRaises(),
             IndexReturnsFloat(), IndexThatMutates(2)]
        )

    def real(self):
        if self.random.random() < 0.7:
            return self.random.choice([0.0, 0.5, 1.0, 3.0, 10.0, 100.0, self.random.uniform(0, 50)])
        return self.random.choice(
            [math.nan, math.inf, -math.inf, -0.0, -1.0, 5e-324, 1e-300, 1e308, -1e308, 2**1024, 10**400, 3,
             np.float32(math.nan), np.float16(2.0), Fraction(1, 3), FloatOf(2.0), FloatOf(math.nan), FloatRaises(),
             FloatReturnsText(), IndexThatMutates(3), "1.0", 1j]
        )

    def text(self, default=None):
        names = [*MODEL_NAMES, *KERNEL_NAMES, "L2", "fused", "full", "streaming", "exact", "sampled"]
        if isinstance(default, str):
            names += [default] * 8
        if self.random.random() < 0.8:
            return self.random.choice(names)
        return self.random.choice(
            ["", "x" * 100_000, "l2\x00", "\udcff", "a\udcffb", "\"\\\n\t\x7f", "Ｌ２", TextSubclass("l2"), b"l2",
             "l2 ", "l" * 9]
        )

    def signal(self):
        if self.random.random() < 0.85:
            return self.random.choice(self.plausible_signals)
        return self.random.choice(self.hostile_signals)

    def breakpoints(self):
        n = self.call_samples if self.random.random() < 0.8 else self.random.choice([1, 2, 5, 17, 40, 80, 30])
        if self.random.random() < 0.7:
            inner = sorted(self.random.sample(range(1, n), min(n - 1, self.random.randint(0, 4)))) if n > 1 else []
            values = inner + [n]
            form = self.random.randrange(4)
            if form == 1:
                return np.array(values, dtype=self.random.choice(["i8", "u8", "i4", "u2", ">i8", "i2"]))
            if form == 2:
                return tuple(values)
            if form == 3:
                return np.array(values + values, dtype=np.int64)[::2]
            return values
        owner = []
        owner.extend([IndexThatMutates(self.random.choice([1, 2]), owner)] + list(range(3, 80)))
        return self.random.choice(
            [[], [0], [5, 3], [2**64 - 1], [-1], [1.5], [None], "12", b"\x01\x02", {1, 2}, {1: 2}, range(1, 81),
             (i for i in (1, 2)), owner, LengthRaises([1, 2]), LengthLies(), ItemRaises(), np.array([-5, 80]),
             np.array([1.0, 2.0]), np.arange(12).reshape(3, 4), np.array(3), np.array([True, True]),
             np.array([2**63], dtype=np.uint64), [IndexRaises()], [IndexOf(2**64)], 17]
        )

    def custom_cost(self):
        if self.random.random() < 0.5:
            return None
        return CustomCost(self.random.choice(["none", "fit", "error", "nan", "text", "meddle"]),
                          min_size=self.random.choice([1, 2, 0, -1, 2**64, "2", None]))

    def anything(self):
        pick = self.random.randrange(8)
        return [self.integer, self.real, self.text, self.signal, self.breakpoints, self.custom_cost,
                lambda: self.random.choice([None, object(), [], {}, print, Hostile, self.random.choice(self.classes)]),
                lambda: self.random.choice(self.hostile_signals)][pick]()

    def value_for(self, parameter):
        if self.random.random() < 0.12:
            return self.anything()
        name, default = parameter.name, parameter.default
        if "signal" in name or name in ("weights", "metric", "x", "y"):
            return self.signal()
        if name in ("truth", "prediction", "breakpoints", "bkps"):
            return self.breakpoints()
        if name == "custom_cost":
            return self.custom_cost()
        if name == "model" and self.random.random() < 0.3:  # a configured cost object
            return _tarnwell._model_cost(self.random.choice(MODEL_NAMES))
        if isinstance(default, bool):
            return self.random.choice([True, False, 1, None, "yes"])
        if name == "n_samples":
            return self.call_samples if self.random.random() < 0.8 else self.integer()
        if isinstance(default, int) or name.startswith("n_") or name in ("start", "end", "margin", "seed", "order"):
            return self.integer()
        if isinstance(default, float) or name in ("pen", "epsilon", "gamma", "ridge"):
            return self.real()
        if isinstance(default, str):
            return self.text(default)
        return self.anything()

    def arguments(self, parameters):
        """Positional and keyword arguments for one call, sometimes malformed."""
        args, kwargs = [], {}
        positional = True
        for parameter in parameters:
            if parameter.kind in (parameter.VAR_POSITIONAL, parameter.VAR_KEYWORD):
                continue
            has_default = parameter.default is not parameter.empty
            if has_default and self.random.random() < 0.4:
                positional = False
                continue
            if not has_default and self.random.random() < 0.02:
                continue  # a missing required argument
            value = self.value_for(parameter)
            if parameter.kind == parameter.POSITIONAL_ONLY or (positional and self.random.random() < 0.6):
                args.append(value)
            else:
                positional = False
                kwargs[parameter.name] = value
        roll = self.random.random()
        if roll < 0.01:
            args.append(self.anything())
        elif roll < 0.02:
            kwargs["unknown"] = 1
        elif roll < 0.03 and parameters:
            args.insert(0, self.anything())
        return args, kwargs

    # Instances --------------------------------------------------------------

    def instance(self, cls):
        pool = self.instances[cls]
        if not pool or (len(pool) < 6 and self.random.random() < 0.2):
            return None
        return self.random.choice(pool)

    def keep(self, cls, instance, samples=None):
        pool = self.instances[cls]
        if len(pool) < 6:
            pool.append(instance)
        else:
            slot = self.random.randrange(6)
            self.sample_counts.pop(id(pool[slot]), None)
            pool[slot] = instance
        # A new object may reuse the id of one that is gone; a copy is fitted
        # on as many samples as its original.
        self.sample_counts.pop(id(instance), None)
        if samples is not None:
            self.sample_counts[id(instance)] = samples

    def meddle(self):
        """Called from inside protocol objects: refits or reads a live object."""
        if self.meddling or not self.classes:
            return
        self.meddling = True
        try:
            pool = self.instances[self.random.choice(self.classes)]
            if pool:
                target = self.random.choice(pool)
                action = self.random.choice(["fit", "predict", "repr"])
                if action == "fit" and hasattr(target, "fit"):
                    target.fit(self.random.choice(self.plausible_signals))
                    self.sample_counts.pop(id(target), None)
                elif action == "predict" and hasattr(target, "predict"):
                    target.predict(1)
                else:
                    repr(target)
        except DOCUMENTED + (Hostile,):
            pass
        finally:
            self.meddling = False

    # Calls --------------------------------------------------------------------

    def one_call(self, target):
        # Sizes within one call mostly agree, so that calls get past the
        # checks that compare them.
        self.call_samples = self.random.choice([1, 2, 5, 17, 40, 80, 30, 60, 25])
        if target == "functions":
            function = self.random.choice(self.functions)
            args, kwargs = self.arguments(list(inspect.signature(function).parameters.values()))
            return function.__name__, lambda: function(*args, **kwargs), (args, kwargs), None
        cls = getattr(_tarnwell, target)
        instance = self.instance(cls)
        if instance is None:
            if self.random.random() < 0.05:
                return cls.__name__ + ".__new__", lambda: self.adopt(cls, cls.__new__(cls)), (), None
            args, kwargs = self.arguments(list(inspect.signature(cls).parameters.values()))
            return cls.__name__, lambda: self.adopt(cls, cls(*args, **kwargs)), (args, kwargs), None
        methods, properties = self.members[cls]
        roll = self.random.random()
        if roll < 0.08 and properties:
            name = self.random.choice(properties)
            return f"{cls.__name__}.{name}", lambda: getattr(instance, name), (), None
        if roll < 0.11:
            return f"repr({cls.__name__})", lambda: repr(instance), (), None
        if roll < 0.12:
            return f"copy({cls.__name__})", lambda: self.copies(cls, instance), (), None
        if roll < 0.13:
            args, kwargs = self.arguments(list(inspect.signature(cls).parameters.values()))
            return f"{cls.__name__}.__init__", lambda: self.reinitialise(instance, args, kwargs), (args, kwargs), None
        name, parameters = self.random.choice(methods)
        if name == "set_params":  # the constructor's parameters by keyword; the object is unfitted after
            args, kwargs = self.arguments(list(inspect.signature(cls).parameters.values()))
            kwargs.update(zip(list(inspect.signature(cls).parameters), args))
            return (f"{cls.__name__}.set_params", lambda: self.reparametrise(instance, kwargs), ((), kwargs),
                    None)
        if name in ("predict", "error", "sum_of_costs") or name.startswith("estimated"):
            # Mostly fitted objects, so that the searches themselves run.
            fitted = [candidate for candidate in self.instances[cls] if id(candidate) in self.sample_counts]
            if fitted and self.random.random() < 0.8:
                instance = self.random.choice(fitted)
            self.call_samples = self.sample_counts.get(id(instance), self.call_samples)
        args, kwargs = self.arguments(parameters)
        method = getattr(instance, name)
        return f"{cls.__name__}.{name}", lambda: method(*args, **kwargs), (args, kwargs), (instance, name, args, kwargs)

    def adopt(self, cls, instance):
        self.keep(cls, instance)
        return instance

    def reinitialise(self, instance, args, kwargs):
        self.sample_counts.pop(id(instance), None)
        instance.__init__(*args, **kwargs)

    def reparametrise(self, instance, kwargs):
        if kwargs:
            self.sample_counts.pop(id(instance), None)
        return instance.set_params(**kwargs)

    def copies(self, cls, instance):
        # Whatever copying produces must be as safe to use as the original.
        for duplicate in (copy.copy, copy.deepcopy, lambda value: pickle.loads(pickle.dumps(value))):
            try:
                self.keep(cls, duplicate(instance), self.sample_counts.get(id(instance)))
            except DOCUMENTED + (pickle.PicklingError,):
                pass

    def check_result(self, call_name, result, method_call):
        if method_call is None:
            return
        instance, name, args, kwargs = method_call
        if name in ("fit", "fit_predict"):
            signal = args[0] if args else kwargs.get("signal")
            if name == "fit":
                assert result is instance, f"{call_name} returned {result!r}, not the object"
            if isinstance(signal, np.ndarray) and signal.ndim in (1, 2):
                self.sample_counts[id(instance)] = signal.shape[0]
        if name in ("predict", "fit_predict"):
            assert isinstance(result, list) and result, f"{call_name} returned {result!r}"
            assert all(type(value) is int for value in result), f"{call_name} returned {result!r}"
            assert all(a < b for a, b in zip([0] + result, result)), f"{call_name} returned {result!r}"
            expected = self.sample_counts.get(id(instance))
            if expected is not None:
                assert result[-1] == expected, f"{call_name} returned {result!r} for {expected} samples"

    def find(self, kind, example):
        """Records a finding of one class, with its first example."""
        count, first = self.findings.get(kind, (0, example))
        self.findings[kind] = (count + 1, first)

    def run(self, calls):
        global FUZZ
        FUZZ = self
        outcomes = {}
        for index in range(calls):
            if index % CLI_EVERY == CLI_EVERY - 1:
                self.use_stream("command line")
                kind = self.command_line(index)
                outcomes["command line", kind] = outcomes.get(("command line", kind), 0) + 1
                continue
            target = self.targets[index % len(self.targets)]
            self.use_stream(target)
            call_name, call, arguments, method_call = self.one_call(target)
            if TRACE:
                print(index, call_name, describe(arguments), file=sys.stderr, flush=True)
            if method_call is not None and method_call[1] in ("fit", "fit_predict"):
                self.sample_counts.pop(id(method_call[0]), None)
            try:
                result = call()
            except Hostile:
                outcomes[call_name, "Hostile"] = outcomes.get((call_name, "Hostile"), 0) + 1
                continue
            except DOCUMENTED as error:
                message = str(error)
                if "internal native panic" in message:
                    self.find("internal panic", f"{call_name}{describe(arguments)}: {message}")
                elif len(message) > LONGEST_MESSAGE:
                    self.find("overlong message", f"{call_name}: message of {len(message)} characters")
                kind = type(error).__name__
                outcomes[call_name, kind] = outcomes.get((call_name, kind), 0) + 1
                continue
            except BaseException as error:
                self.find(f"undocumented {type(error).__name__}", f"{call_name}{describe(arguments)}: {error!r}")
                continue
            try:
                self.check_result(call_name, result, method_call)
            except AssertionError as error:
                self.find("malformed result", str(error))
            outcomes[call_name, "ok"] = outcomes.get((call_name, "ok"), 0) + 1
        for signal, checksum in zip(self.all_signals(), self.signal_checksums):
            if checksum is not None and self.checksum(signal) != checksum:
                self.find("caller's array written to", describe(signal))
        return outcomes

    # The command line ----------------------------------------------------------

    def command_line(self, index):
        """Runs the command line in-process on a drawn file and arguments;
        returns the kind of outcome ("exit N"), recording any finding."""
        from tarnwell.cli import main

        name, content = self.input_file()
        path = Path(self.folder.name) / f"{index}-{name}"
        path.write_bytes(content)
        argv = [str(path), *self.cli_options()]
        name = f"{name} {content[:160]!r}"
        if TRACE:
            print(index, "tarnwell", argv[1:], len(content), "bytes", file=sys.stderr, flush=True)
        started = time.monotonic()
        with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(io.StringIO()) as err, \
                warnings.catch_warnings():
            warnings.simplefilter("ignore")
            try:
                status = main(argv)
            except SystemExit as stop:  # argparse's usage errors
                status = stop.code
            except BaseException as error:
                self.find(f"command line: {type(error).__name__}", f"tarnwell {argv[1:]} on {name}: {error!r}")
                path.unlink()
                return "traceback"
        seconds = time.monotonic() - started
        path.unlink()
        if status not in CLI_STATUSES:
            self.find("command line: exit status", f"tarnwell {argv[1:]} on {name}: {status!r}")
        if "Traceback" in err.getvalue():
            self.find("command line: traceback", f"tarnwell {argv[1:]} on {name}")
        if seconds > CLI_SECONDS:
            self.find("command line: stall", f"tarnwell {argv[1:]} on {name}: {seconds:.1f} s")
        return f"exit {status}"

    def input_file(self):
        pick = self.random.choice
        n = pick([1, 2, 5, 40, 150])
        if self.random.random() < 0.25:
            array = pick([self.numpy.normal(size=n), self.numpy.normal(size=(n, 2)), np.zeros(0),
                          np.arange(n), np.array(["a"] * n), self.numpy.normal(size=(2, 2, 2)),
                          np.array([1e308, -1e308] * n), np.array([math.nan] * n)])
            buffer = io.BytesIO()
            np.save(buffer, array)
            content = buffer.getvalue()
            content = pick([content, content[: self.random.randrange(len(content) + 1)], b"",
                            b"PK\x03\x04" + content, bytes(self.numpy.integers(0, 256, 64, dtype=np.uint8))])
            return "input.npy", content
        cells = [lambda i: f"{self.numpy.normal():.6g}", lambda i: str(i), lambda i: "", lambda i: "NA",
                 lambda i: "nan", lambda i: "text", lambda i: "9" * 310, lambda i: "1e400", lambda i: "-inf",
                 lambda i: f"2024-01-{1 + i % 28:02d}", lambda i: f"{2000 + i}", lambda i: '"1,5"', lambda i: '"',
                 lambda i: "\x00", lambda i: "\u00e9t\u00e9", lambda i: " 3 ", lambda i: "0x1p3"]
        width = pick([1, 1, 2, 3])
        columns = [pick(cells) for _ in range(width)]
        delimiter = pick([",", ",", ";", "\t", " "])
        lines = [delimiter.join(pick(["a", "date", "x", "", "1", "a"]) for _ in range(width))] \
            if self.random.random() < 0.6 else []
        for i in range(n):
            cell = (lambda i: pick(cells)(i)) if self.random.random() < 0.1 else None
            lines.append(delimiter.join((cell or column)(i) for column in columns))
            if self.random.random() < 0.03:
                lines.append(pick(["", delimiter * (width - 1), "   "]))
        text = pick(["\n", "\r\n"]).join(lines) + pick(["\n", "", "\n\n"])
        content = text.encode("utf-8", "replace")
        roll = self.random.random()
        if roll < 0.02:
            content = b"x\n" + b"1" * 200_000 + b"\n"  # one huge field
        elif roll < 0.04:
            content = b"\xef\xbb\xbf" + content
        elif roll < 0.06:
            content = bytes(self.numpy.integers(0, 256, 200, dtype=np.uint8))
        return pick(["input.csv", "input.txt", "input.CSV"]), content

    def cli_options(self):
        pick = self.random.choice
        options = []
        for flag, values in [("-c", ["0", "1", "a", "x", "-1", "7"]), ("--index", ["0", "date", "a", "9"]),
                             ("--fill", ["linear", "ffill", "drop", "up"]),
                             ("-m", [*SEARCH_NAMES, "x"]), ("--model", [*MODEL_NAMES, "x"]),
                             ("--pen", ["1", "0", "-2", "nan", "1e300"]), ("--n-bkps", ["1", "0", "3", "-1", "x"]),
                             ("--jump", ["1", "3", "0"]), ("--min-size", ["1", "2", "5", "0"]),
                             ("--param", ["width=5", "width", "kernel=linear", "gamma=nan"]),
                             ("--delimiter", [";", ",", "ab"])]:
            if self.random.random() < 0.15:
                options += [flag, pick(values)]
        for flag in ["--json", "--penalty-path"]:
            if self.random.random() < 0.1:
                options.append(flag)
        return options


def describe(arguments):
    try:
        text = repr(arguments)
    except Exception as error:  # a huge integer, a hostile array subclass
        text = f"(arguments whose repr raised {type(error).__name__})"
    return text if len(text) < 300 else text[:300] + "..."


def summary(calls, outcomes, findings, seconds):
    by_kind = {}
    for (_, kind), count in outcomes.items():
        by_kind[kind] = by_kind.get(kind, 0) + count
    lines = [f"fuzz: {calls} calls in {seconds:.0f} s (seed {SEED}); outcomes: "
             + ", ".join(f"{kind} {count}" for kind, count in sorted(by_kind.items(), key=lambda item: -item[1]))]
    lines.append(f"fuzz: findings: {sum(count for count, _ in findings.values())}"
                 + "".join(f"\n  {kind}: {count} (first: {first})" for kind, (count, first) in sorted(findings.items())))
    return "\n".join(lines)


def test_random_calls_raise_only_documented_errors():
    fuzzer = Fuzzer(SEED)
    calls = int(CALLS) if CALLS else CALLS_PER_TARGET * len(fuzzer.targets)
    started = time.monotonic()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # the package's own warnings, from the command line's runs
        outcomes = fuzzer.run(calls)
    report = summary(calls, outcomes, fuzzer.findings, time.monotonic() - started)
    print(report, file=sys.stderr)
    assert not fuzzer.findings, report
    if calls < CALLS_PER_TARGET * len(fuzzer.targets):
        return
    reached = {name for name, _ in outcomes}
    succeeded = {name for name, kind in outcomes if kind == "ok"}
    # Every callable is reached, and the searches get past argument checking.
    assert {function.__name__ for function in fuzzer.functions} <= reached
    for cls in fuzzer.classes:
        assert {f"{cls.__name__}.{name}" for name, _ in fuzzer.members[cls][0]} <= reached, cls
        if hasattr(cls, "predict"):
            assert f"{cls.__name__}.predict" in succeeded
