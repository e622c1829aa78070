"""Writes the parts of the typing stub python/tarnwell/_tarnwell.pyi and of the
package's __all__ that follow from the compiled module's lists, so that a
model added to the cost list or a search added to the list of searches needs
no edit of either.

Type checkers read the stub and __all__ as static text (a list computed at
import time exports nothing to them), so both stay static, committed with the
sources: this script rewrites the text between their "# <generated: ...>" and
"# </generated>" markers from what the imported module registers (the names
it exports, the cost classes of the cost list with their parameter and
property types, the classes of the greedy searches) and leaves the rest, the
hand-written classes and functions, as it is. `make dev-build` runs it after
building; `--check` (run by the tests) only says whether the files are current.

    PYTHONPATH=build/dev python scripts/write_stub.py [--check] [PACKAGE_DIRECTORY]
"""

import argparse
import inspect
import re
import sys
import textwrap
from pathlib import Path

from tarnwell import _tarnwell

DEFAULT_PACKAGE = Path(__file__).resolve().parent.parent / "python" / "tarnwell"
FILES = ("_tarnwell.pyi", "__init__.py")
SECTION = re.compile(r"^# <generated: (?P<name>[a-z ]+)>\n.*?^# </generated>\n", re.MULTILINE | re.DOTALL)

# A constructor parameter's type as a caller may pass it, and a property's as
# the module returns it.
ARGUMENT_TYPES = {"int": "SupportsIndex", "float": "SupportsFloat", "matrix": "npt.NDArray[np.float64]"}
RESULT_TYPES = {"int": "int", "float": "float"}
# The parameters every model-based search shares, by their names.
SEARCH_ARGUMENT_TYPES = {"model": "_Model", "custom_cost": "_CustomCost | None"}
GREEDY_RULES = ("n_bkps", "pen", "epsilon")


def docstring(cls: type, indent: str = "    ") -> str:
    """The first sentence of the class's docstring, as the stub's."""
    paragraph = " ".join((cls.__doc__ or "").strip().split("\n\n")[0].split())
    first = paragraph.split(". ")[0].rstrip(".") + "."
    lines = textwrap.wrap(f'"""{first}"""', width=116 - len(indent), break_on_hyphens=False)
    return "".join(f"{indent}{line}\n" for line in lines)


def value_type(value: object) -> str:
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise SystemExit(f"write_stub: no stub type for a default of {value!r}: type it by hand")
    return "int" if isinstance(value, int) else "float"


def constructor(cls: type, annotations: dict[str, str]) -> str:
    arguments = ["cls"]
    for parameter in inspect.signature(cls).parameters.values():
        written = f"{parameter.name}: {annotations[parameter.name]}"
        if parameter.default is not inspect.Parameter.empty:
            default = parameter.default
            written += f' = "{default}"' if isinstance(default, str) else f" = {default!r}"
        arguments.append(written)
    one_line = f"    def __new__({', '.join(arguments)}) -> {cls.__name__}: ..."
    if len(one_line) <= 116:
        return one_line + "\n"
    return "    def __new__(\n" + "".join(f"        {a},\n" for a in arguments) + f"    ) -> {cls.__name__}: ...\n"


def properties(types: dict[str, str]) -> str:
    return "".join(f"    @property\n    def {name}(self) -> {kind}: ...\n" for name, kind in types.items())


def cost_class(entry: dict) -> str:
    cls = getattr(_tarnwell, entry["class_name"])
    name = cls.__name__
    annotations = {key: ARGUMENT_TYPES[kind] for key, kind in entry["parameter_types"].items()}
    shown = {key: RESULT_TYPES[kind] for key, kind in entry["parameter_types"].items() if kind in RESULT_TYPES}
    shown |= {key: RESULT_TYPES[kind] for key, kind in entry["property_types"].items()}
    shown |= {"n_samples": "int", "n_features": "int", "min_size": "int", "is_fitted": "bool"}
    text = f"@final\nclass {name}:\n{docstring(cls)}\n{constructor(cls, annotations)}"
    text += (
        "    def __reduce__(self) -> _Reduced: ...\n"
        "    def __setstate__(self, state: bytes) -> None: ...\n"
        "    def get_params(self, deep: bool = True) -> dict[str, Any]: ...\n"
        "    def set_params(self, **params: Any) -> Self: ...\n"
        f"    def fit(self, signal: _Signal) -> {name}: ...\n"
        "    def error(self, start: SupportsIndex, end: SupportsIndex) -> float: ...\n"
        "    def sum_of_costs(self, breakpoints: _Breakpoints) -> float: ...\n"
    )
    text += properties(shown)
    aliases = [alias for alias in _tarnwell.__all__ if alias != name and getattr(_tarnwell, alias) is cls]
    return text + "".join(f"\n{alias} = {name}\n" for alias in aliases)


def is_greedy(cls: type) -> bool:
    return list(inspect.signature(cls.predict).parameters)[1:] == list(GREEDY_RULES)


def greedy_class(cls: type) -> str:
    annotations = dict(SEARCH_ARGUMENT_TYPES)
    own = {}
    for parameter in inspect.signature(cls).parameters.values():
        if parameter.name not in annotations and parameter.name not in ("min_size", "jump"):
            own[parameter.name] = value_type(parameter.default)
    annotations |= {"min_size": "SupportsIndex", "jump": "SupportsIndex"}
    annotations |= {key: ARGUMENT_TYPES[kind] for key, kind in own.items()}
    text = f"@final\nclass {cls.__name__}(_Greedy):\n{docstring(cls)}\n{constructor(cls, annotations)}"
    text += f"    def fit(self, signal: _Signal) -> {cls.__name__}: ...\n"
    return text + properties({key: RESULT_TYPES[kind] for key, kind in own.items() if key in vars(cls)})


def sections() -> dict[str, str]:
    names = "".join(f'    "{name}",\n' for name in _tarnwell.__all__)
    models = _tarnwell._cost_models()
    union = " | ".join(["str", *(entry["class_name"] for entry in models)])
    greedy = [getattr(_tarnwell, entry["name"]) for entry in _tarnwell._searches()]
    return {
        "names": f"__all__ = [\n{names}]\n",
        "model argument": "_Model = (\n" + "".join(f"    {line}\n" for line in textwrap.wrap(union, 112)) + ")\n",
        "cost classes": "\n".join(cost_class(entry) for entry in models),
        "greedy searches": "\n".join(greedy_class(cls) for cls in greedy if is_greedy(cls)),
    }


def written(text: str, generated: dict[str, str]) -> tuple[str, set[str]]:
    found = {match["name"] for match in SECTION.finditer(text)}
    unknown = found - set(generated)
    if unknown:
        raise SystemExit(f"write_stub: unknown sections {sorted(unknown)}; known: {sorted(generated)}")
    return SECTION.sub(lambda match: f"# <generated: {match['name']}>\n{generated[match['name']]}# </generated>\n",
                       text), found


def main(arguments: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("package", nargs="?", type=Path, default=DEFAULT_PACKAGE)
    parser.add_argument("--check", action="store_true", help="only say whether the files are current")
    options = parser.parse_args(arguments)
    generated = sections()
    covered: set[str] = set()
    stale = []
    for name in FILES:
        path = options.package / name
        current = path.read_text()
        wanted, found = written(current, generated)
        covered |= found
        if wanted != current:
            stale.append(path)
            if not options.check:
                path.write_text(wanted)
                print(f"write_stub: rewrote {path}")
    if covered != set(generated):
        raise SystemExit(f"write_stub: no markers for the sections {sorted(set(generated) - covered)}")
    if stale and options.check:
        print(f"out of date with the module's lists: {[str(p) for p in stale]}; run make stub", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    raise SystemExit(main(sys.argv[1:]))
