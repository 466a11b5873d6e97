"""The type stubs say what the module says: the same names, parameters in the
same order with the same defaults, and the first paragraph of each docstring."""

import ast
import inspect

import pytest

import tovarn
from support import REPO

STUBS = ast.parse((REPO / "src/python/tovarn-stubs/__init__.pyi").read_text())


def defined(body):
    return {node.name: node for node in body if isinstance(node, (ast.FunctionDef, ast.ClassDef))}


SESSION = defined(STUBS.body)["Session"]
METHODS = [name for name, value in vars(tovarn.Session).items() if not name.startswith("_") and callable(value)]
FUNCTIONS = [name for name in tovarn.__all__ if inspect.isbuiltin(getattr(tovarn, name))]


def stub_parameters(node, skip_first):
    arguments = node.args
    assert arguments.posonlyargs == [] and arguments.kwonlyargs == [] and not arguments.vararg and not arguments.kwarg
    assert all(isinstance(d, ast.Constant) and d.value is None for d in arguments.defaults)
    first_default = len(arguments.args) - len(arguments.defaults)
    return [(a.arg, i >= first_default) for i, a in enumerate(arguments.args)][skip_first:]


def runtime_parameters(callable_, skip_first):
    parameters = list(inspect.signature(callable_).parameters.values())[skip_first:]
    assert all(p.kind is p.POSITIONAL_OR_KEYWORD for p in parameters)
    assert all(p.default in (p.empty, None) for p in parameters)
    return [(p.name, p.default is None) for p in parameters]


def first_paragraph(text):
    return text.split("\n\n")[0]


def test_names():
    module_stubs = [n for n in defined(STUBS.body) if not n.startswith("_")]
    assert sorted(module_stubs) == sorted([*FUNCTIONS, "Session"])
    assert [n for n in defined(SESSION.body) if not n.startswith("_")] == METHODS
    stub_all = next(node.value for node in STUBS.body
                    if isinstance(node, ast.Assign) and node.targets[0].id == "__all__")
    assert ast.literal_eval(stub_all) == tovarn.__all__


@pytest.mark.parametrize("name", FUNCTIONS)
def test_function(name):
    stub = defined(STUBS.body)[name]
    assert stub_parameters(stub, skip_first=False) == runtime_parameters(getattr(tovarn, name), skip_first=False)
    assert ast.get_docstring(stub) == first_paragraph(getattr(tovarn, name).__doc__)


@pytest.mark.parametrize("name", METHODS)
def test_method(name):
    stub = defined(SESSION.body)[name]
    runtime = getattr(tovarn.Session, name)
    assert stub_parameters(stub, skip_first=True) == runtime_parameters(runtime, skip_first=True)
    assert ast.get_docstring(stub) == first_paragraph(runtime.__doc__)


def test_constructor():
    stub = defined(SESSION.body)["__new__"]
    assert stub_parameters(stub, skip_first=True) == runtime_parameters(tovarn.Session, skip_first=False)
    assert ast.get_docstring(SESSION) == first_paragraph(tovarn.Session.__doc__)
