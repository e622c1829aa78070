"""What the API reference documents: every public name of the package, the
page it lives on and the group it is listed under.

The public names are ``tarnwell.__all__`` and the ``__all__`` of every
public submodule (a module whose name does not start with an underscore).
Searches, cost classes, exceptions and warnings find their group by what
they are, so a class added to the compiled module's lists is documented
without an edit here; any other new public name must be placed in a group
below, or the documentation build and ``tests/test_docs_coverage.py`` fail
and say so.

This file is imported both by the Sphinx build (``docs/_ext/api_pages.py``)
and by the test, so it needs nothing but the package.
"""

from __future__ import annotations

import ast
import importlib
import inspect
import pkgutil
import sys
from collections.abc import Callable, Iterator
from dataclasses import dataclass, is_dataclass
from pathlib import Path
from types import ModuleType
from typing import Any

PACKAGE = "tarnwell"


def _is_search(obj: Any) -> bool:
    return isinstance(obj, type) and all(hasattr(obj, m) for m in ("fit", "predict", "fit_predict"))


def _is_cost(obj: Any) -> bool:
    return isinstance(obj, type) and all(hasattr(obj, m) for m in ("fit", "error", "sum_of_costs"))


def _is_exception(obj: Any) -> bool:
    return isinstance(obj, type) and issubclass(obj, BaseException)


# The groups of the package's namespace, in the order the reference lists
# them: a title, a sentence, and either the names or a test on the object.
GROUPS: list[tuple[str, str, tuple[str, ...] | Callable[[Any], bool]]] = [
    ("Detecting changes", "One call from any array-like to change points.",
     ("detect", "detect_many", "DetectionResult", "DetectionFailure")),
    ("Searches", "The search classes: fit a signal, then predict with a stopping rule.", _is_search),
    ("Cost models", "The segment costs the searches minimise, as stand-alone classes.", _is_cost),
    ("Choosing the penalty", "The default penalty, the penalty path and the checks of a result.", ("penalty",)),
    ("Plotting", "A signal with its change points, drawn with matplotlib.", ("plot",)),
    ("Evaluation metrics", "Compare two breakpoint lists of one signal.",
     ("precision_recall", "hausdorff", "rand_index")),
    ("Synthetic signals", "Seeded generators of piecewise signals with known changes.",
     ("pw_constant", "pw_linear", "pw_normal", "pw_wavy")),
    ("Errors and warnings", "What the package raises and warns with.", _is_exception),
    ("Signals and versions", "Checking a signal; the version of the package.",
     ("validate_signal", "version", "__version__")),
]


# Names whose text lives here because the object cannot carry one: the
# compiled module's exception class keeps the bare form its users rely on.
TEXTS = {
    f"{PACKAGE}.TarnwellError": (
        "The exception of the compiled module for failures that are not the caller's: a numerical "
        "failure (an overflow of a size or a sum, a cost that is not finite) and an internal fault "
        "(\"internal native panic while ...\"). A subclass of ``RuntimeError``; refused arguments raise "
        "``ValueError`` and exhausted memory ``MemoryError`` instead. Instances pickle by their arguments "
        "and attributes, so they cross process pools."),
}


@dataclass(frozen=True)
class Entry:
    """One documented name."""

    qualified: str
    """The name the page documents, for example "tarnwell.Pelt"."""
    module: str
    """The module the name is public in."""
    name: str
    obj: Any
    kind: str
    """"module", "class", "exception", "function", "data" or "alias"."""
    alias_of: str | None = None

    @property
    def page(self) -> str:
        """The page's path below docs/api, without suffix."""
        return f"generated/{self.qualified}"


def _kind(obj: Any) -> str:
    if isinstance(obj, ModuleType):
        return "module"
    if _is_exception(obj):
        return "exception"
    if isinstance(obj, type):
        return "class"
    if callable(obj):
        return "function"
    return "data"


def public_modules() -> list[ModuleType]:
    """The package and its public submodules, recursively."""
    package = importlib.import_module(PACKAGE)
    found = [package]
    for info in pkgutil.walk_packages(package.__path__, prefix=PACKAGE + "."):
        parts = info.name.split(".")[1:]
        if any(part.startswith("_") for part in parts):
            continue
        found.append(importlib.import_module(info.name))
    return found


def public_names(module: ModuleType) -> list[str]:
    names = getattr(module, "__all__", None)
    if names is None:
        raise AssertionError(f"{module.__name__} has no __all__: say which of its names are public")
    return list(names)


def entries() -> list[Entry]:
    """Every public name once, under its shortest public path; a name that
    the package re-exports from a submodule is documented as tarnwell.<name>
    and the submodule's page links to it."""
    package, *submodules = public_modules()
    documented: dict[int, str] = {}
    result: list[Entry] = []

    def add(module: ModuleType, name: str) -> None:
        obj = getattr(module, name)
        qualified = f"{module.__name__}.{name}"
        if isinstance(obj, ModuleType):
            qualified = obj.__name__
        key = id(obj)
        if key in documented and _kind(obj) in ("class", "exception") and module is package:
            result.append(Entry(qualified, module.__name__, name, obj, "alias", alias_of=documented[key]))
            return
        if key in documented and _kind(obj) != "data":
            return
        documented.setdefault(key, qualified)
        result.append(Entry(qualified, module.__name__, name, obj, _kind(obj)))

    for name in public_names(package):
        add(package, name)
    modules_seen = {entry.qualified for entry in result if entry.kind == "module"}
    for module in submodules:
        if module.__name__ not in modules_seen:
            result.append(Entry(module.__name__, module.__name__, module.__name__.rsplit(".", 1)[-1], module,
                                "module"))
        for name in public_names(module):
            add(module, name)
    return result


def group_of(entry: Entry) -> str | None:
    """The group of a name of the package's own namespace (None for the
    names of a submodule, listed on their module's page)."""
    if entry.module != PACKAGE:
        return None
    for title, _, rule in GROUPS:
        if callable(rule) and not isinstance(rule, tuple):
            if rule(entry.obj):
                return title
        elif entry.name in rule:
            return title
    raise LookupError(f"{PACKAGE}.{entry.name} has no place in the API reference: list it in a group of "
                      f"docs/_ext/api_catalogue.py")


def module_members(module_name: str) -> Iterator[Entry]:
    """The names a submodule makes public, wherever they are documented."""
    by_object = {id(entry.obj): entry for entry in entries() if entry.kind not in ("alias",)}
    module = importlib.import_module(module_name)
    for name in public_names(module):
        obj = getattr(module, name)
        yield by_object.get(id(obj)) or Entry(f"{module_name}.{name}", module_name, name, obj, _kind(obj))


def missing_docstring(entry: Entry) -> list[str]:
    """The parts of a documented name that have no docstring of their own:
    the name itself and, for a class, its public methods and properties."""
    if entry.kind == "alias" or entry.qualified in TEXTS:
        return []
    if entry.kind == "data":
        return [] if attribute_doc(entry) is not None else [entry.qualified]
    missing = [] if _own_doc(entry.obj) else [entry.qualified]
    if entry.kind in ("class", "exception") and not _is_exception(entry.obj):
        for name, member in vars(entry.obj).items():
            if name.startswith("_") or not (callable(member) or isinstance(member, property)
                                            or inspect.isdatadescriptor(member)):
                continue
            if is_dataclass(entry.obj) and name in getattr(entry.obj, "__dataclass_fields__", {}):
                continue
            if not _own_doc(member):
                missing.append(f"{entry.qualified}.{name}")
    return missing


def _own_doc(obj: Any) -> bool:
    doc = obj.__doc__ if isinstance(obj, (type, ModuleType, property)) or callable(obj) else None
    if isinstance(obj, type) and is_dataclass(obj) and doc and doc.startswith(obj.__name__ + "("):
        return False  # the field list dataclasses write when a class has no docstring
    if isinstance(obj, type) and doc == getattr(obj.__mro__[1], "__doc__", None) and obj.__mro__[1] is not object:
        return False  # inherited
    if doc is None and inspect.isdatadescriptor(obj):
        doc = getattr(obj, "__doc__", None)
    body = (doc or "").split("\n--\n\n", 1)[-1].strip()
    return bool(body)


def attribute_doc(entry: Entry) -> str | None:
    """The documentation of a module-level value: a string right after its
    assignment (as Sphinx reads it), else the comment block right above it;
    None when it has neither."""
    if entry.name == "__version__":
        return "The version of the package, as ``version()`` returns it."
    source = sys.modules[entry.module].__file__
    if not source or not source.endswith(".py"):
        return None
    text = Path(source).read_text()
    body = ast.parse(text).body
    lines = text.splitlines()
    for statement, following in zip(body, [*body[1:], None]):
        targets = (statement.targets if isinstance(statement, ast.Assign)
                   else [statement.target] if isinstance(statement, ast.AnnAssign) else [])
        if not any(isinstance(t, ast.Name) and t.id == entry.name for t in targets):
            continue
        if (isinstance(following, ast.Expr) and isinstance(following.value, ast.Constant)
                and isinstance(following.value.value, str)):
            return inspect.cleandoc(following.value.value)
        comment = []
        row = statement.lineno - 2
        while row >= 0 and lines[row].startswith("#"):
            comment.insert(0, lines[row].lstrip("#").strip())
            row -= 1
        return " ".join(comment) or None
    return None

def model_table() -> str:
    """The compiled module's cost list as a Markdown table (for the page on
    choosing a model): a model added to the list appears by itself."""
    from tarnwell import _tarnwell

    lines = ["| Model (`model=`) | Class | Use it when |", "|---|---|---|"]
    for model in _tarnwell._cost_models(1):
        names = ", ".join(f'`"{name}"`' for name in model["names"])
        lines.append(f"| {names} | {{class}}`~tarnwell.{model['class_name']}` | {model['use_when']} |")
    return "\n".join(lines) + "\n"


def search_table() -> str:
    """The compiled module's list of searches with their capabilities as a
    Markdown table (for the page on the searches): a search added to the
    list appears by itself."""
    from tarnwell import _tarnwell

    def mark(value: bool) -> str:
        return "yes" if value else "no"

    lines = ["| Search (`method=`) | Stops by | Exact | `model=` (name or cost object) | `custom_cost=` | "
             "{func}`~tarnwell.penalty.penalty_path` |", "|---|---|---|---|---|---|"]
    for search in _tarnwell._searches(1):
        rules = [f"`{rule}`" for capability, rule in (("fixed_count", "n_bkps"), ("penalized", "pen"),
                                                         ("threshold", "epsilon")) if search[capability]]
        lines.append(f"| {{class}}`~tarnwell.{search['name']}` | {', '.join(rules)} | {mark(search['exact'])} | "
                     f"{mark(search['model'])} | {mark(search['custom_cost'])} | {mark(search['penalty_path'])} |")
    return "\n".join(lines) + "\n"
