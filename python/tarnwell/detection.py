"""One call from an array-like to change points: `detect`, and `detect_many`
for many independent signals on a thread pool."""

from __future__ import annotations

import importlib
import itertools
import os
from collections.abc import Callable, Iterable, Mapping
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any, overload


from . import _tarnwell
from ._tarnwell import Pelt
from ._costs import segmentation_cost
from ._intake import Intake, as_signal
from ._estimators import build_estimator, default_min_size
from ._methods import is_cost_object, model_facts, search_info
from ._descriptions import choose_description, description_cost, description_parameters, fit_description
from ._pattern import is_pattern_model, pattern_breakpoints
from ._progress import showing_progress
from ._penalty_checks import warn_if_tied_runs
from .penalty import PenaltyChoice, choose_penalty, warn_if_oversegmented, warn_if_undersegmented

if TYPE_CHECKING:
    from matplotlib.figure import Figure

__all__ = ["DetectionFailure", "DetectionResult", "default_min_size", "detect", "detect_many"]

# Descriptions whose segments follow a line or a wandering level, not a
# level: a level shift inside one of their segments is not a sign of a
# missed change (the models say so themselves: `_describes_trend`).
_TREND_DESCRIPTIONS = ("trend", "walk")

# The parameters detect still chooses the description with: the grid only.
_DESCRIBED_PARAMETERS = ("min_size", "jump")

# Descriptions that are no model of the searches: detect fits them itself.
_OWN_DESCRIPTIONS = ("trend", "walk")

# Interruption groups of detect_many calls: the workers' searches watch their
# call's group, so Ctrl-C on the main thread reaches them too.
_interruption_groups = itertools.count(1)


@dataclass(eq=False)
class DetectionResult:
    """The outcome of `detect`.

    Breakpoints follow the module's convention: the end of every segment,
    the last one equal to the number of samples. `change_points` leaves out
    that final end; for a pandas input it holds the index labels of the first
    sample of each new segment.
    """

    breakpoints: list[int]
    method: str
    model: Any
    """The model of the search: its name, a cost object (CostAR(order=2):
    its parameters with it), "custom", the kernel's name, or None (L1Potts);
    when detect chose it (no model given), the description: "l2", "trend",
    "normal" or "walk" (see `penalty_choice`)."""
    penalty: float | None
    """The penalty used (given or default), or None for another stopping rule."""
    signal: Intake = field(repr=False)
    _cost_choice: dict[str, Any] = field(repr=False)
    _cost: float | None = field(default=None, repr=False)
    penalty_choice: PenaltyChoice | None = field(default=None, repr=False)
    """The parts of the default penalty, when detect chose it; with the
    description and how the others scored when it chose the model too."""

    @property
    def n_samples(self) -> int:
        """Number of samples (rows) of the signal."""
        return int(self.signal.values.shape[0])

    @property
    def n_features(self) -> int:
        """Number of features (columns) of the signal."""
        return int(self.signal.matrix.shape[1])

    @property
    def n_changes(self) -> int:
        """Number of change points: the breakpoints without the final one."""
        return len(self.breakpoints) - 1

    @property
    def change_positions(self) -> list[int]:
        """Sample positions of the change points (the breakpoints without the final n)."""
        return self.breakpoints[:-1]

    @property
    def change_points(self) -> list[Any]:
        """Index labels of the change points for pandas input, else their positions."""
        if self.signal.index is None:
            return self.change_positions
        return [self.signal.index[b] for b in self.change_positions]

    @property
    def segments(self) -> list[tuple[int, int]]:
        """Half-open [start, end) sample ranges of the segments."""
        return list(zip([0, *self.breakpoints[:-1]], self.breakpoints))

    @property
    def cost(self) -> float:
        """Total cost of the segmentation in the search's own cost (computed on first use)."""
        if self._cost is None:
            if "description" in self._cost_choice:
                self._cost = description_cost(self._cost_choice["description"], self.signal.matrix,
                                              self.breakpoints)
            else:
                self._cost = segmentation_cost(self.signal.matrix, self.breakpoints, **self._cost_choice)
        return self._cost

    def segment_parameters(self) -> Any:
        """The fitted parameters of every segment, from the model that found
        it: one row per segment, one column per parameter, named by the
        model (mean per feature for "l2" and "mahalanobis", median for "l1",
        mean centred rank for "rank", mean and covariance for "normal",
        coefficients for "linear" and "ar", slope for "clinear"; for the
        descriptions detect chooses, the level's or the spread's, a line's
        intercept at each segment's first sample and slope per sample for
        "trend", the mean level for "walk", fitted to the signal they
        describe, less its seasonal swing), features by their column names
        for a DataFrame and by number otherwise.

        A pandas DataFrame indexed by the label of each segment's first
        sample when the input was pandas; otherwise a dict of one float64
        array (one value per segment) per parameter name. Only the
        model-based searches without a custom cost have such parameters.
        """
        names, values = self._fitted_parameters()
        labels = self.signal.columns if self.signal.columns is not None else list(range(self.n_features))
        columns = [name.format(*labels) for name in names]
        if self.signal.index is None:
            return {column: values[:, i].copy() for i, column in enumerate(columns)}
        pd = importlib.import_module("pandas")  # the input was pandas: it is there
        starts = [0, *self.breakpoints[:-1]]
        return pd.DataFrame(values, columns=columns, index=pd.Index([self.signal.index[a] for a in starts],
                                                                     name=self.signal.index.name))

    def _fitted_parameters(self) -> tuple[list[str], Any]:
        """The parameter names ("{f}" standing for feature f) and the values."""
        if "description" in self._cost_choice:
            return description_parameters(self._cost_choice["description"], self.signal.matrix, self.breakpoints)
        model = self._cost_choice.get("model")
        if model is None:
            raise ValueError(f"{self.method}'s segments have no fitted parameters: segment_parameters needs a "
                             "model-based search (a model name or a built-in cost object, not a custom cost)")
        names = list(model_facts(model, self.n_features)["parameter_names"])
        return names, _tarnwell._segment_parameters(model, self.signal.matrix, self.breakpoints)

    def plot(self, true_breakpoints: Iterable[int] | None = None, **options: Any) -> Figure:
        """The signal with these change points (and optionally the true ones); see `tarnwell.plot`."""
        from .plotting import plot

        return plot(self.signal, self.breakpoints, true_breakpoints, **options)


@dataclass(frozen=True)
class DetectionFailure:
    """A signal of `detect_many` whose detection raised; the others are unaffected."""

    index: Any
    """Position (or key, for a mapping) of the signal."""
    error: BaseException

    def __str__(self) -> str:
        return f"signal {self.index!r}: {type(self.error).__name__}: {self.error}"


def detect(signal: Any, method: str = "pelt", model: Any = None, *, n_bkps: int | None = None,
           pen: float | None = None, epsilon: float | None = None, warn: bool = True,
           progress: bool | Callable[[int, int], Any] = False, **params: Any) -> DetectionResult:
    """Finds the change points of `signal`.

    signal: any array-like of real numbers, one- or two-dimensional, rows are
        samples in time order: a list, a NumPy array of any real dtype, a
        pandas Series or DataFrame. It is converted once to float64.
    method: the search, by name: "pelt" (exact, penalty), "dynp" (exact,
        number of changes), "binseg", "bottomup", "window" (greedy, any rule),
        and where this build has them "kernelcpd" and "l1potts".
    model: the segment cost of the model-based searches ("l2", "l1",
        "rank", "normal", "linear", "ar", "clinear", "mahalanobis",
        "pattern"), a built-in cost object with parameters of its own
        (CostAR(order=2), CostNormal(ridge=1e-3), CostMahalanobis(metric)),
        which runs as natively as its name (a model's parameters may also
        come as keywords: detect(x, model="ar", order=2)), or for Pelt one
        of the descriptions detect chooses from:
        "trend" (a line in time per segment: bends and shifts of a trend)
        and "walk" (a level that wanders; a change is a jump that stands out
        of its steps). With neither a model nor a stopping rule, Pelt reads
        the signal as a person would: it looks past a seasonal swing,
        describes the signal as levels ("l2"), a trend, levels and spread
        ("normal") or a wandering level, whichever the likelihood of its
        prediction errors favours, and reports that choice in `model` and
        its reasons in `penalty_choice`. Otherwise the default model is
        "l2". "pattern" finds changes of shape, rhythm or motif that keep
        level and spread; without n_bkps or pen it needs no parameter: its
        subsequence width comes from the data and each split must pass a
        test (method "pelt" or "binseg": a tested binary segmentation,
        reported as "Binseg"); it takes width= and neighbours=.
    n_bkps, pen, epsilon: at most one stopping rule, among those the method
        accepts. With none, a method that takes a penalty uses
        `tarnwell.penalty.default_penalty`; a greedy search with "l2" makes
        as many changes as the exact search finds at that penalty.
    warn: warn with OverSegmentationWarning when most segments are only a
        few samples long, and with UnderSegmentationWarning when a segment
        holds a large shift of level (see tarnwell.penalty).
    progress: True draws a progress bar with an estimate of the time left on
        standard error while a search that takes more than a few seconds
        runs (nothing for a quick one); a callable receives (done, total)
        work units about every 50 ms instead.
    params: the method's other parameters (min_size, jump, width, kernel,
        custom_cost, weights, ...), passed to its constructor or to `fit`,
        and the model's (order, ridge, metric), which configure it.

    Defaults differ from the classes' own: `jump` is 1, so change points are
    exact sample positions. `jump` trades precision for time: the search
    only considers multiples of `jump` (plus the end), so a change can be
    reported up to jump - 1 samples late, while the work shrinks about
    jump-fold for Pelt and the greedy searches and jump²-fold for Dynp's
    table. `min_size` defaults to `default_min_size(model)`: 2 samples for
    level and distribution models, more for the regression models.
    """
    intake = as_signal(signal)
    info = search_info(method)
    if model is not None and not isinstance(model, str) and not is_cost_object(model):
        raise TypeError(f"model must be a model name such as 'l2', a built-in cost object such as "
                        f"CostAR(order=2), or None, got {type(model).__name__}; stopping rules are keywords: "
                        "n_bkps=, pen= or epsilon=")
    given = {rule: value for rule, value in (("n_bkps", n_bkps), ("pen", pen), ("epsilon", epsilon))
             if value is not None}
    if len(given) > 1:
        raise ValueError(f"give at most one of n_bkps, pen and epsilon, got {', '.join(given)}")
    for rule in given:
        if rule not in info.rules:
            raise ValueError(f"{info.name} does not take {rule}; it stops by {' or '.join(info.rules)}")
    with showing_progress(progress):
        if model is None and not given and info.name == "Pelt" and set(params) <= set(_DESCRIBED_PARAMETERS):
            return _described(intake, info.name, params, warn, None)
        if isinstance(model, str) and model.lower() in _OWN_DESCRIPTIONS:
            if info.name != "Pelt":
                raise ValueError(f"model {model!r} is searched by Pelt only (method='pelt'), not by {info.name}")
            unknown = sorted(set(params) - set(_DESCRIBED_PARAMETERS))
            if unknown:
                raise TypeError(f"model {model!r} takes no parameter {unknown[0]!r}; its parameters: min_size, jump")
            return _described(intake, info.name, params, warn, (model.lower(), given.get("pen")))
        if not given and is_pattern_model(model) and info.name.lower() in ("pelt", "binseg"):
            breakpoints, _ = pattern_breakpoints(intake.values, params)
            return DetectionResult(breakpoints=breakpoints, method="Binseg", model="pattern", penalty=None,
                                   signal=intake, _cost_choice={"model": "pattern"})
        if not given and params.get("custom_cost") is not None:
            raise ValueError("there is no default penalty for a custom cost: its units are unknown; pass pen= "
                             "(tarnwell.penalty.penalty_path shows the candidates)")
        estimator, fit_params, choice = build_estimator(info, model, params, intake.matrix.shape[1])
        estimator.fit(intake.values, **fit_params)
        known: list[int] | None = None
        noise = None
        parts: PenaltyChoice | None = None
        if not given:
            if "pen" not in info.rules:
                raise ValueError(f"{info.name} needs one of {', '.join(info.rules)}")
            parts, known = choose_penalty(estimator, intake.matrix, fit_params)
            given, noise = {"pen": parts.value}, parts.signal_noise
            if "epsilon" in info.rules and _is_pelts_default_model(estimator):
                # A greedy search at the penalty of an exact one leaves slivers
                # (BottomUp cannot move a boundary that straddles a change): it
                # makes as many changes as the exact search finds at that penalty.
                exact = Pelt(model=estimator.model, min_size=int(estimator.min_size), jump=int(estimator.jump))
                count = len(exact.fit(intake.values).predict(pen=parts.value)) - 1
                try:
                    known = [int(b) for b in estimator.predict(n_bkps=count)]
                except ValueError:  # Window finds fewer peaks: its own stop at the penalty
                    known = None
        breakpoints = known if known is not None else _predict(estimator, intake, given)
    if warn:
        warn_if_oversegmented(breakpoints, min_size=int(getattr(estimator, "min_size", 1)),
                              jump=int(getattr(estimator, "jump", 1)), stacklevel=2)
        if _model_fact(info.takes_model, estimator, intake.matrix.shape[1], "rewards_constant_runs"):
            warn_if_tied_runs(intake.matrix, breakpoints, stacklevel=2)
        if not _model_fact(info.takes_model, estimator, intake.matrix.shape[1], "describes_trend"):
            warn_if_undersegmented(intake.matrix, breakpoints, min_size=int(getattr(estimator, "min_size", 1)),
                                   noise=noise, stacklevel=2)
    model_used = estimator.model if info.takes_model else getattr(estimator, "kernel", None)
    return DetectionResult(breakpoints=breakpoints, method=info.name, model=model_used,
                           penalty=given.get("pen"), signal=intake, _cost_choice=choice(estimator),
                           penalty_choice=parts)


def _described(intake: Intake, method: str, params: dict[str, Any], warn: bool,
               named: tuple[str, float | None] | None) -> DetectionResult:
    """detect with nothing but the grid given: the description of the signal
    a person would use, with its segmentation (see `_descriptions`); with
    `named`, (the name of a description, its penalty or None), that one."""
    min_size = params.get("min_size")
    jump = params.get("jump")
    grid = {"min_size": 2 if min_size is None else int(min_size), "jump": 1 if jump is None else int(jump)}
    if named is None:
        choice = choose_description(intake.matrix, **grid)
    else:
        choice = fit_description(intake.matrix, named[0], pen=named[1], **grid)
    if warn:
        shortest = 2 if min_size is None else int(min_size)
        warn_if_oversegmented(choice.breakpoints, min_size=shortest, jump=1 if jump is None else int(jump),
                              stacklevel=3)
        if choice.name not in _TREND_DESCRIPTIONS:
            signal = intake.matrix if choice.signal is None else choice.signal
            warn_if_undersegmented(signal, choice.breakpoints, min_size=shortest, noise=choice.noise, stacklevel=3)
    parts = None if named is not None and named[1] is not None else PenaltyChoice(
        choice.penalty, choice.penalty / choice.excursion, choice.excursion, 1.0, choice.name, choice.noise,
        description=choice if named is None else None)
    return DetectionResult(breakpoints=choice.breakpoints, method=method, model=choice.name, penalty=choice.penalty,
                           signal=intake, _cost_choice={"description": choice}, penalty_choice=parts)


def _model_fact(takes_model: bool, estimator: Any, n_features: int, fact: str) -> bool:
    """A flag of the search's model from its descriptor (describes_trend:
    its segments follow a regression, not a level, so a level shift inside
    one is no sign of a missed change; rewards_constant_runs: its cost
    rewards isolating runs of equal values); False without a model."""
    if not takes_model or getattr(estimator, "uses_custom_cost", False):
        return False
    return bool(model_facts(estimator.model, n_features)[fact])


def _is_pelts_default_model(estimator: Any) -> bool:
    """Whether a search's model is the one Pelt searches by default, whose
    default penalty is calibrated for Pelt's exact result."""
    if getattr(estimator, "uses_custom_cost", False):
        return False
    default = search_info("pelt").default_model
    return bool(model_facts(estimator.model)["name"] == model_facts(default)["name"])


def _predict(estimator: Any, intake: Intake, rule: dict[str, Any]) -> list[int]:
    try:
        return [int(b) for b in estimator.predict(**rule)]
    except ValueError as error:
        width = getattr(estimator, "width", None)
        if width is None or "n_bkps" not in rule or not str(error).startswith("cannot segment"):
            raise
        # Window's candidates are the peaks of its gain, at least width / 2
        # from the ends and from each other: the width, not the length, limits them.
        n, n_bkps = intake.matrix.shape[0], rule["n_bkps"]
        raise ValueError(f"{error}: Window(width={width}) finds at most one change per peak of its window "
                         f"gain, and each needs width / 2 = {width // 2} samples on both sides; this signal "
                         f"gave fewer than {n_bkps} such peaks. Use a smaller width (about "
                         f"{max(2, min(width // 2, n // (n_bkps + 1)))} or less here) or another method") from None


def _workers(n_jobs: int | None) -> int:
    """Threads for `n_jobs` in the joblib convention: None or 1 serial, k > 1
    k threads, -1 every CPU, -k every CPU but k - 1 (at least one)."""
    cores = os.cpu_count() or 1
    if n_jobs is None:
        return 1
    if isinstance(n_jobs, int) and not isinstance(n_jobs, bool):
        if n_jobs >= 1:
            return n_jobs
        if n_jobs <= -1:
            return max(1, cores + 1 + n_jobs)
    raise ValueError(f"n_jobs must be None, a positive integer or a negative one counting back from the "
                     f"number of CPUs (-1: all), got {n_jobs!r}")


@overload
def detect_many(signals: Mapping[Any, Any], method: str = ..., model: Any = ..., *,
                n_jobs: int | None = ..., **options: Any) -> dict[Any, DetectionResult | DetectionFailure]: ...
@overload
def detect_many(signals: Iterable[Any], method: str = ..., model: Any = ..., *,
                n_jobs: int | None = ..., **options: Any) -> list[DetectionResult | DetectionFailure]: ...


def detect_many(signals: Iterable[Any] | Mapping[Any, Any], method: str = "pelt", model: Any = None, *,
                n_jobs: int | None = None,
                **options: Any) -> list[DetectionResult | DetectionFailure] | dict[Any, DetectionResult | DetectionFailure]:
    """Runs `detect` on many independent signals, `n_jobs` at a time on threads.

    The searches release the interpreter lock, so threads run them in
    parallel. Results come back in the order of `signals` (or under the same
    keys, for a mapping). A signal whose detection raises yields a
    `DetectionFailure` in its place instead of stopping the others.
    n_jobs: None or 1 runs serially, k uses k threads, -1 every CPU and -k
        every CPU but k - 1, as in joblib.
    options: anything `detect` takes (n_bkps, pen, min_size, ...).
    """
    keyed = isinstance(signals, Mapping)
    keys = list(signals) if keyed else None
    items = [signals[k] for k in keys] if keys is not None else list(signals)  # type: ignore[index]
    workers = _workers(n_jobs)

    def one(position: int) -> DetectionResult | DetectionFailure:
        try:
            return detect(items[position], method, model, **options)
        except Exception as error:  # reported in place; the other signals go on
            return DetectionFailure(keys[position] if keys is not None else position, error)

    if workers == 1 or len(items) <= 1:
        outcomes = [one(i) for i in range(len(items))]
    else:
        outcomes = _run_on_threads(one, len(items), min(workers, len(items)))
    if keys is not None:
        return dict(zip(keys, outcomes))
    return outcomes


def _run_on_threads(one: Callable[[int], Any], count: int, workers: int) -> list[Any]:
    """[one(0), ..., one(count - 1)] on `workers` threads. Ctrl-C (or any
    exception) on the calling thread cancels the signals not yet started and
    interrupts the running searches, so it propagates within a poll of theirs
    instead of after they finish; no partial list is returned."""
    group = next(_interruption_groups)

    def watched(position: int) -> Any:
        previous = _tarnwell._watch_interruption_group(group)
        try:
            return one(position)
        finally:
            _tarnwell._watch_interruption_group(previous)

    pool = ThreadPoolExecutor(max_workers=workers)
    try:
        outcomes = list(pool.map(watched, range(count)))
    except BaseException:
        _tarnwell._interrupt_group(group)
        pool.shutdown(wait=True, cancel_futures=True)
        raise
    finally:
        pool.shutdown(wait=True)
        _tarnwell._end_interruption_group(group)
    return outcomes
