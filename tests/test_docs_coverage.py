"""Every public name of the package has a page in the API reference and a
docstring: the names of ``tarnwell.__all__`` and of every public submodule's
``__all__``, the public methods and properties of their classes included."""

import importlib
import importlib.util
import pkgutil
import sys
from pathlib import Path

import pytest

import tarnwell

pytest.importorskip("sktime")  # tarnwell.sktime is a public submodule

CATALOGUE = Path(__file__).resolve().parent.parent / "docs" / "_ext" / "api_catalogue.py"
_catalogue_source = importlib.util.spec_from_file_location("api_catalogue", CATALOGUE)
catalogue = importlib.util.module_from_spec(_catalogue_source)
sys.modules["api_catalogue"] = catalogue
_catalogue_source.loader.exec_module(catalogue)

ENTRIES = catalogue.entries()


def public_names():
    modules = [tarnwell] + [importlib.import_module(info.name)
                            for info in pkgutil.walk_packages(tarnwell.__path__, prefix="tarnwell.")
                            if not any(part.startswith("_") for part in info.name.split(".")[1:])]
    return [(module, name) for module in modules for name in module.__all__]


@pytest.mark.parametrize("module, name", public_names(), ids=lambda x: getattr(x, "__name__", x))
def test_every_public_name_has_a_page(module, name):
    obj = getattr(module, name)
    pages = [entry for entry in ENTRIES if entry.obj is obj or (entry.qualified == f"{module.__name__}.{name}")]
    assert pages, f"{module.__name__}.{name} has no page in the API reference"
    if module is tarnwell:
        entry = next(entry for entry in pages if entry.module == "tarnwell")
        assert catalogue.group_of(entry)  # raises, naming the file to edit, when it has no section


def test_every_documented_name_has_a_docstring():
    missing = [part for entry in ENTRIES for part in catalogue.missing_docstring(entry)]
    assert not missing, f"no docstring: {', '.join(missing)}"


def test_model_table_lists_the_cost_list():
    table = catalogue.model_table()
    for model in tarnwell._tarnwell._cost_models(1):
        assert model["class_name"] in table and all(f'"{name}"' in table for name in model["names"])


def test_search_table_lists_the_searches_with_their_capabilities():
    rows = catalogue.search_table().splitlines()[2:]
    for entry, row in zip(tarnwell._tarnwell._searches(1), rows, strict=True):
        cells = [cell.strip() for cell in row.strip("|").split("|")]
        assert cells[0] == f"{{class}}`~tarnwell.{entry['name']}`"
        assert ("`pen`" in cells[1]) == entry["penalized"] and ("`n_bkps`" in cells[1]) == entry["fixed_count"]
        assert cells[2:] == ["yes" if entry[key] else "no" for key in ("exact", "model", "custom_cost", "penalty_path")]
