"""Every public class, method, property and function of the compiled module
documents what it does and what its parameters mean, after the text
signature the binding writes."""

import inspect
import re

import pytest

import tarnwell._tarnwell as native

CLASSES = [name for name in native.__all__ if isinstance(getattr(native, name), type)
           and name != "TarnwellError"]  # the exception class keeps its established bare form
FUNCTIONS = [name for name in native.__all__ if callable(getattr(native, name))
             and not isinstance(getattr(native, name), type)]


def body(doc):
    """The docstring without the text signature part."""
    assert doc, "no docstring"
    return doc.split("\n--\n\n", 1)[-1].strip()


def members(cls):
    for name, member in vars(cls).items():
        if not name.startswith("_") or name in ("__reduce__", "__setstate__"):
            yield name, member


@pytest.mark.parametrize("name", CLASSES)
def test_class_and_member_docstrings_are_not_empty(name):
    cls = getattr(native, name)
    assert body(cls.__doc__)
    inspect.signature(cls)  # the text signature is still there
    for member_name, member in members(cls):
        assert len(body(member.__doc__)) > 20, f"{name}.{member_name}"
        if callable(member):
            assert member.__text_signature__.startswith("($self"), f"{name}.{member_name}"


@pytest.mark.parametrize("name", CLASSES)
def test_every_parameter_is_explained(name):
    cls = getattr(native, name)
    text = body(cls.__doc__) + "\n" + "\n".join(body(member.__doc__) for _, member in members(cls))
    parameters = set(inspect.signature(cls).parameters)
    for method in ("fit", "predict", "error", "sum_of_costs"):
        if hasattr(cls, method):
            parameters |= set(inspect.signature(getattr(cls, method)).parameters) - {"self"}
    for parameter in parameters:
        assert re.search(rf"\b{parameter}\b", text), f"{name}: {parameter} is not explained"


@pytest.mark.parametrize("name", FUNCTIONS)
def test_function_docstrings_explain_their_parameters(name):
    function = getattr(native, name)
    text = body(function.__doc__)
    assert len(text) > 20 and function.__text_signature__ is not None
    for parameter in inspect.signature(function).parameters:
        assert re.search(rf"\b{parameter}\b", text), f"{name}: {parameter}"


@pytest.mark.parametrize("name", ["Pelt", "Binseg", "BottomUp", "Window", "L1Potts", "KernelCPD"])
def test_penalty_docs_say_how_pen_follows_the_scale(name):
    doc = body(getattr(native, name).predict.__doc__)
    assert "pen:" in doc and re.search(r"scale", doc)
    if name != "L1Potts":
        assert "noise variance" in doc
