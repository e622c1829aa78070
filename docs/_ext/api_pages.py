"""Sphinx extension: writes one reference page per public name (from
``api_catalogue``), the grouped tables of the reference's index, and the
command line's ``--help`` text; stops the build when a public name has no
place in the reference or no docstring."""

from __future__ import annotations

import subprocess
import sys
from pathlib import Path

from sphinx.application import Sphinx
from sphinx.errors import ExtensionError

import api_catalogue
from api_catalogue import GROUPS, Entry

_DIRECTIVE = {"class": "autoclass", "exception": "autoexception", "function": "autofunction",
              "data": "autodata"}


def _title(text: str) -> str:
    return f"{text}\n{'=' * len(text)}\n"


def _relative(qualified: str, current: str) -> str:
    """How an autosummary table under module `current` names an object:
    relative to it when it lives there, else in full with a short title."""
    if qualified.startswith(current + "."):
        return qualified[len(current) + 1:]
    return "~" + qualified


def _page(entry: Entry) -> str:
    module, _, name = entry.qualified.rpartition(".")
    if entry.kind == "module":
        members = list(api_catalogue.module_members(entry.qualified))
        lines = [_title(entry.qualified), f".. automodule:: {entry.qualified}\n   :no-members:\n"]
        if members:
            lines += [".. rubric:: Public names\n", ".. autosummary::\n   :nosignatures:\n"]
            lines += [f"   {_relative(member.qualified, entry.qualified)}" for member in members]
            lines += ["", ".. toctree::\n   :hidden:\n"]
            lines += [f"   {member.qualified}" for member in members if member.module == entry.qualified]
        return "\n".join(lines) + "\n"
    header = _title(entry.qualified) + f"\n.. currentmodule:: {module}\n\n"
    if entry.kind == "alias":
        return header + (f".. py:class:: {name}\n\n   Another name of :class:`{entry.alias_of}`: the same class, "
                         f"``{entry.qualified} is {entry.alias_of}``.\n")
    if entry.qualified in api_catalogue.TEXTS:
        base = entry.obj.__mro__[1].__name__
        return header + (f".. py:exception:: {name}\n\n   Bases: ``{base}``\n\n   "
                         f"{api_catalogue.TEXTS[entry.qualified]}\n")
    if entry.kind == "data":
        text = api_catalogue.attribute_doc(entry) or ""
        return header + f".. py:data:: {name}\n\n   {text}\n"
    options = "   :members:\n" if entry.kind in ("class", "exception") else ""
    if entry.kind == "exception":
        options += "   :show-inheritance:\n"
    return header + f".. {_DIRECTIVE[entry.kind]}:: {name}\n{options}"


def _index(entries: list[Entry]) -> str:
    """The grouped tables of the package's namespace, then the submodules."""
    grouped: dict[str, list[Entry]] = {title: [] for title, _, _ in GROUPS}
    for entry in entries:
        group = api_catalogue.group_of(entry)
        if group is not None:
            grouped[group].append(entry)
    lines = []
    pages = []
    for title, sentence, _ in GROUPS:
        if not grouped[title]:
            continue
        listed = [entry for entry in grouped[title] if entry.kind != "alias"]
        lines += [title, "-" * len(title), "", sentence, "", ".. autosummary::", "   :nosignatures:", ""]
        lines += [f"   {_relative(entry.qualified, api_catalogue.PACKAGE)}" for entry in listed]
        lines.append("")
        for alias in (entry for entry in grouped[title] if entry.kind == "alias"):
            lines += [f":class:`~{alias.qualified}` is another name of :class:`~{alias.alias_of}`.", ""]
        pages += [entry.page for entry in grouped[title]]
    submodules = [entry for entry in entries if entry.kind == "module"
                  and api_catalogue.group_of(entry) is None]
    if submodules:
        lines += ["Submodules", "----------", "", ".. autosummary::", ""]
        lines += [f"   {_relative(entry.qualified, api_catalogue.PACKAGE)}" for entry in submodules]
        lines.append("")
        pages += [entry.page for entry in submodules]
    lines += [".. toctree::", "   :hidden:", ""]
    lines += [f"   {page}" for page in pages]
    return "\n".join(lines) + "\n"


def _write(path: Path, text: str) -> None:
    # Unchanged pages keep their time stamp, so Sphinx rebuilds only what changed.
    if not path.exists() or path.read_text() != text:
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text)


def generate(app: Sphinx) -> None:
    try:
        entries = api_catalogue.entries()
        index = _index(entries)
    except (LookupError, AssertionError) as error:
        raise ExtensionError(str(error)) from None
    missing = [part for entry in entries for part in api_catalogue.missing_docstring(entry)]
    if missing:
        raise ExtensionError("public names without a docstring: " + ", ".join(missing))
    target = Path(app.srcdir) / "api" / "generated"
    wanted = {f"{entry.qualified}.rst" for entry in entries} | {"index-tables.rst.inc", "cli-help.txt",
                                                                 "model-table.md", "search-table.md"}
    for stale in target.glob("*"):
        if stale.name not in wanted:
            stale.unlink()
    for entry in entries:
        _write(target / f"{entry.qualified}.rst", _page(entry))
    _write(target / "index-tables.rst.inc", index)
    help_text = subprocess.run([sys.executable, "-m", api_catalogue.PACKAGE, "--help"], capture_output=True,
                               text=True, check=True).stdout
    _write(target / "cli-help.txt", help_text)
    _write(target / "model-table.md", api_catalogue.model_table())
    _write(target / "search-table.md", api_catalogue.search_table())



def setup(app: Sphinx) -> dict[str, object]:
    app.connect("builder-inited", generate)
    return {"parallel_read_safe": True, "parallel_write_safe": True}
