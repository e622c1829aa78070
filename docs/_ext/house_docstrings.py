"""Sphinx extension: renders the package's docstrings, written for ``help()``,
as numpydoc sections.

The docstrings describe parameters as paragraphs ``name: text`` (the
compiled classes compose them from one table, the Python functions indent
the continuation lines). Before numpydoc reads a docstring, this hook moves
those paragraphs, for names of the object's signature, into a "Parameters"
section after the description; turns plain section headings of module
texts into rubrics; and gives the compiled classes and functions the
"Raises" section that the module's one error mapping implies. Docstrings
that already have numpydoc sections are left alone.
"""

from __future__ import annotations

import inspect
import re
from typing import Any

from sphinx.application import Sphinx

_NUMPYDOC_SECTIONS = {"Parameters", "Returns", "Yields", "Raises", "Warns", "See Also", "Notes", "Examples",
                      "Attributes", "Methods", "References", "Other Parameters", "Receives", "Warnings"}
_ENTRY = re.compile(r"^(\*{0,2}[A-Za-z_]\w*(?:, \*{0,2}[A-Za-z_]\w*)*): (.*)$")
_UNDERLINE = re.compile(r"^([-=~^])\1{2,}$")

# What the compiled module raises, the same for every class and function
# (one translation of its error kinds); the classes add what their memory
# limits and shared use can raise.
_RAISES_COMMON = [
    ("ValueError", "an argument is refused: a signal that is empty, not float64 or holds a value that is not "
                   "finite, a parameter out of its range, an unknown model or kernel; the message names it."),
    ("tarnwell.TarnwellError", "a numerical failure (an overflow, a cost that is not finite) or an internal "
                               "fault; a subclass of RuntimeError."),
]
_RAISES_CLASS = [
    ("MemoryError", "the working memory would exceed the object's memory limit (max_memory_bytes, "
                    "max_gram_bytes) or could not be allocated; nothing is changed."),
    ("RuntimeError", "the object is in use by another thread (a fit while a prediction runs)."),
]


def _parameter_names(obj: Any) -> set[str]:
    try:
        signature = inspect.signature(obj)
    except (TypeError, ValueError):
        return set()
    return {name for name in signature.parameters if name != "self"}


def _split_parameters(lines: list[str], names: set[str]) -> tuple[list[str], list[tuple[str, list[str]]]]:
    """The description lines and the (names, text) of the parameter paragraphs."""
    description: list[str] = []
    entries: list[tuple[str, list[str]]] = []
    current: list[str] | None = None
    for line in lines:
        match = _ENTRY.match(line)
        if match and all(part.lstrip("*") in names for part in match.group(1).split(", ")):
            current = [match.group(2)]
            entries.append((match.group(1).replace("*", ""), current))
        elif current is not None and line.startswith((" ", "\t")) and line.strip():
            current.append(line.strip())
        else:
            current = None
            description.append(line)
    return description, entries


def _from_properties(cls: type, names: set[str]) -> list[tuple[str, list[str]]]:
    """The constructor parameters a class documents on its members (the
    compiled searches do, on the property of the same name or on the one
    that reports it), in signature order."""
    try:
        order = [name for name in inspect.signature(cls).parameters if name in names]
    except (TypeError, ValueError):
        return []
    docs = [getattr(vars(cls).get(name), "__doc__", None) or "" for name in order]
    docs += [getattr(member, "__doc__", None) or "" for key, member in vars(cls).items()
             if not key.startswith("_") and key not in order]
    found: dict[str, list[str]] = {}
    for doc in docs:
        for name, text in _split_parameters(doc.splitlines(), set(order))[1]:
            found.setdefault(name, text)
    return [(name, found[name]) for name in order if name in found]


def _headings_to_rubrics(lines: list[str]) -> list[str]:
    result: list[str] = []
    for line in lines:
        if (result and _UNDERLINE.match(line) and result[-1].strip() and len(line) == len(result[-1])
                and result[-1].strip() not in _NUMPYDOC_SECTIONS):
            result[-1] = f".. rubric:: {result[-1].strip()}"
            result.append("")
            continue
        result.append(line)
    return result


def _section(title: str, body: list[str]) -> list[str]:
    return ["", title, "-" * len(title), *body]


def convert(what: str, obj: Any, lines: list[str]) -> None:
    """Rewrites `lines` (the docstring of `obj`) in place."""
    # A bar in plain text (|x - y|, an absolute value) would open a
    # reStructuredText substitution.
    lines[:] = [line.replace("|", "\\|") for line in lines]
    stripped = {line.strip() for line in lines}
    if what == "module":
        lines[:] = _headings_to_rubrics(lines)
        return
    if stripped & _NUMPYDOC_SECTIONS:
        return
    names = _parameter_names(obj)
    if what == "class":
        for method in ("fit", "predict"):
            if hasattr(obj, method):
                names |= _parameter_names(getattr(obj, method))
    description, entries = _split_parameters([line for line in lines if line.strip() != "Parameters:"], names)
    if what == "class":
        entries += _from_properties(obj, names - {n for joined, _ in entries for n in joined.split(", ")})
    while description and not description[-1].strip():
        description.pop()
    out = list(description)
    if entries:
        body: list[str] = []
        for name, text in entries:
            body += [name, "    " + " ".join(text)]
        out += _section("Parameters", body)
    compiled = getattr(obj, "__module__", None) in ("_tarnwell", "tarnwell._tarnwell")
    if compiled and (what == "class" or (what == "function" and _parameter_names(obj))):
        raises = _RAISES_COMMON + (_RAISES_CLASS if what == "class" and not issubclass(obj, BaseException) else [])
        if not (what == "class" and issubclass(obj, BaseException)):
            body = []
            for kind, text in raises:
                body += [kind, "    " + text[0].upper() + text[1:]]
            out += _section("Raises", body)
    lines[:] = out


def _process(app: Sphinx, what: str, name: str, obj: Any, options: Any, lines: list[str]) -> None:
    convert(what, obj, lines)


def setup(app: Sphinx) -> dict[str, object]:
    # Before numpydoc's own handler (priority 500), which parses the sections.
    app.connect("autodoc-process-docstring", _process, priority=100)
    return {"parallel_read_safe": True, "parallel_write_safe": True}
