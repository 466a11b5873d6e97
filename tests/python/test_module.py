import tomllib

import pytest

import tovarn
from support import REPO, Index, run_child

FORM = (
    '<h:html xmlns="http://www.w3.org/2002/xforms" xmlns:h="http://www.w3.org/1999/xhtml">'
    "<h:head><model><instance><data><q/><r><x/></r></data></instance>"
    '<bind nodeset="/data/q" type="string"/></model></h:head><h:body/></h:html>'
)


class Outer:
    class Inner:
        pass


@pytest.fixture
def session():
    return tovarn.Session(FORM)


# --- the module object --------------------------------------------------------


def test_attributes():
    assert tovarn.__all__ == [
        "__version__",
        "check_form",
        "submission_findings",
        "eval_expression",
        "Session",
    ]
    assert tovarn.__version__ == tomllib.loads((REPO / "pyproject.toml").read_text())["project"]["version"]
    assert tovarn.__doc__ == ""
    for name in ("check_form", "submission_findings", "eval_expression"):
        function = getattr(tovarn, name)
        assert (function.__module__, function.__name__) == ("tovarn", name)


DOCS = [
    (
        "check_form",
        "(form)",
        "Will this form mean the same thing on a tablet and in a browser?\n\n"
        "Returns one dict per finding: the bind it belongs to, which rule, the\n"
        "construct at fault, where it breaks, what happens, and what to write\n"
        "instead. An empty list means the form travels.",
    ),
    (
        "submission_findings",
        "(form, submission, today=None, now=None)",
        "What a form's own rules say about a submission.\n\n"
        "A rule the engine could not evaluate comes back as `not-evaluated`,\n"
        "never as a pass: a rule that did not run has not been satisfied, and\n"
        "reporting it as clean would be the one failure worth avoiding.",
    ),
    (
        "eval_expression",
        "(expression, submission, today=None, now=None)",
        "Evaluate one expression against a submission, for working out what a\n"
        "rule does before writing it into a form.\n\n"
        "An expression this engine cannot evaluate raises, rather than returning\n"
        "a plausible value.",
    ),
    (
        "Session",
        "(form, instance=None, today=None, now=None)",
        "A form being filled in.\n\n"
        "Holds the instance, applies what the form derives, and reports what\n"
        "moved. The same engine that judges the submission when it arrives, so a\n"
        "form cannot behave one way while it is being filled and another way\n"
        "afterwards.",
    ),
    ("Session.set", "($self, path, value)", "Answer a question."),
    ("Session.get", "($self, path)", "The current answer, or the empty string."),
    (
        "Session.add_row",
        "($self, path)",
        "Add a row to a repeat; returns how many there are now.",
    ),
    (
        "Session.remove_row",
        "($self, path, position)",
        "Remove one row, counted from 1 as XPath counts.",
    ),
    (
        "Session.recompute",
        "($self)",
        "Run the form's logic and apply what it derives.\n\n"
        "Returns what is asked, what was calculated (only where it changed),\n"
        "what is missing, what was rejected, and how many rows each repeat\n"
        "has.",
    ),
    (
        "Session.choices",
        "($self, path)",
        "The choices a filtered question offers right now, or `None` when its\n"
        "list is fixed.\n\n"
        "A question in a repeat is named with its row, as /data/rep[2]/q, and\n"
        "its list reads that row.",
    ),
    ("Session.instance_xml", "($self)", "The instance as it would be submitted."),
]


@pytest.mark.parametrize("name, signature, doc", DOCS, ids=[d[0] for d in DOCS])
def test_docstrings_and_signatures(name, signature, doc):
    target = tovarn
    for part in name.split("."):
        target = getattr(target, part)
    assert target.__text_signature__ == signature
    assert target.__doc__ == doc


def test_session_class():
    Session = tovarn.Session
    assert (Session.__module__, Session.__name__, Session.__qualname__) == (
        "builtins",
        "Session",
        "Session",
    )
    assert Session.__init__ is object.__init__
    assert Session.__dictoffset__ == 0 and Session.__weakrefoffset__ == 0
    have_gc, base_type = 1 << 14, 1 << 10
    assert Session.__flags__ & (have_gc | base_type) == 0
    assert [n for n in vars(Session) if not n.startswith("__")] == [
        "set",
        "get",
        "add_row",
        "remove_row",
        "recompute",
        "choices",
        "instance_xml",
    ]
    with pytest.raises(TypeError):

        class Sub(Session):
            pass


REINITIALISED = (
    "PyO3 modules compiled for CPython 3.8 or older may only be initialized once per "
    "interpreter process"
)


def test_reimport_fails_in_the_same_process():
    child = run_child(
        """
        import sys
        import tovarn
        del sys.modules["tovarn"]
        try:
            import tovarn
        except ImportError as e:
            print(e)
        """
    )
    assert child.returncode == 0, child.stderr
    assert child.stdout == REINITIALISED + "\n"


def test_import_fails_in_a_subinterpreter():
    child = run_child(
        """
        import _xxsubinterpreters as interpreters
        import tovarn
        sub = interpreters.create()
        interpreters.run_string(
            sub, "try:\\n import tovarn\\nexcept ImportError as e:\\n print(e, flush=True)"
        )
        """
    )
    assert child.returncode == 0, child.stderr
    assert child.stdout == REINITIALISED + "\n"


# --- binding and conversion --------------------------------------------------

S = tovarn.Session


@pytest.mark.parametrize(
    "call, args, kwargs, message",
    [
        (
            tovarn.eval_expression,
            (),
            {},
            "eval_expression() missing 2 required positional arguments: 'expression' and "
            "'submission'",
        ),
        (
            tovarn.eval_expression,
            ("1",),
            {"today": "x"},
            "eval_expression() missing 1 required positional argument: 'submission'",
        ),
        (
            tovarn.eval_expression,
            ("1", "<a/>", "t", "n", "x"),
            {},
            "eval_expression() takes from 2 to 4 positional arguments but 5 were given",
        ),
        (
            tovarn.submission_findings,
            ("f", "s", "t", "n", "x"),
            {},
            "submission_findings() takes from 2 to 4 positional arguments but 5 were given",
        ),
        (
            tovarn.check_form,
            ("a", "b"),
            {},
            "check_form() takes 1 positional arguments but 2 were given",
        ),
        (
            tovarn.check_form,
            ("a", "b"),
            {"flag": 1},
            "check_form() takes 1 positional arguments but 2 were given",
        ),
        (tovarn.check_form, (), {}, "check_form() missing 1 required positional argument: 'form'"),
        (
            tovarn.eval_expression,
            ("1", "<a/>"),
            {"flag": 1},
            "eval_expression() got an unexpected keyword argument 'flag'",
        ),
        (
            tovarn.eval_expression,
            ("1",),
            {"expression": "2", "flag": 1},
            "eval_expression() got multiple values for argument 'expression'",
        ),
        (
            tovarn.eval_expression,
            ("1",),
            {"flag": 1, "expression": "2"},
            "eval_expression() got an unexpected keyword argument 'flag'",
        ),
        (
            tovarn.eval_expression,
            (),
            {"submission": "<a/>"},
            "eval_expression() missing 1 required positional argument: 'expression'",
        ),
        (S, (), {}, "Session.__new__() missing 1 required positional argument: 'form'"),
        (
            S,
            ("f", "i", "t", "n", "x"),
            {},
            "Session.__new__() takes from 1 to 4 positional arguments but 5 were given",
        ),
        (S, ("f",), {"forms": "x"}, "Session.__new__() got an unexpected keyword argument 'forms'"),
        (
            tovarn.eval_expression,
            (5, 6),
            {},
            "argument 'expression': 'int' object cannot be converted to 'PyString'",
        ),
        (
            tovarn.eval_expression,
            ("1", None),
            {},
            "argument 'submission': 'NoneType' object cannot be converted to 'PyString'",
        ),
        (
            tovarn.eval_expression,
            ("1", "<a/>"),
            {"now": b"x"},
            "argument 'now': 'bytes' object cannot be converted to 'PyString'",
        ),
        (
            tovarn.check_form,
            (Outer.Inner(),),
            {},
            "argument 'form': 'Outer.Inner' object cannot be converted to 'PyString'",
        ),
        (
            S,
            ("f",),
            {"instance": 1.5},
            "argument 'instance': 'float' object cannot be converted to 'PyString'",
        ),
        (
            tovarn.eval_expression,
            ("1", "<a/>"),
            {"x\ud800": 1},
            "eval_expression() got an unexpected keyword argument 'x\ufffd\ufffd\ufffd'",
        ),
    ],
    ids=[
        "missing-two",
        "missing-one",
        "too-many-optional",
        "too-many-findings",
        "too-many-required",
        "surplus-before-keyword",
        "missing-form",
        "unexpected-keyword",
        "multiple-values",
        "keywords-in-order",
        "keyword-fills-later",
        "new-missing",
        "new-too-many",
        "new-unexpected",
        "int-not-str",
        "none-not-str",
        "bytes-not-str",
        "qualified-type-name",
        "float-not-str",
        "unencodable-keyword",
    ],
)
def test_binding_errors(call, args, kwargs, message):
    with pytest.raises(TypeError) as e:
        call(*args, **kwargs)
    assert type(e.value) is TypeError
    assert str(e.value) == message
    assert e.value.args == (message,)


def test_str_subclass_is_accepted():
    class Text(str):
        pass

    with pytest.raises(ValueError) as e:
        tovarn.check_form(form=Text("no-such-file"))
    assert str(e.value).startswith("form: could not read 'no-such-file': ")


def test_lone_surrogate_raises_the_interpreters_error():
    with pytest.raises(UnicodeEncodeError):
        tovarn.eval_expression("\ud800", "<a/>")


# --- Session methods ----------------------------------------------------------


@pytest.mark.parametrize(
    "method, args, kwargs, message",
    [
        ("get", (), {}, "Session.get() missing 1 required positional argument: 'path'"),
        ("get", ("a", "b"), {}, "Session.get() takes 1 positional arguments but 2 were given"),
        (
            "get",
            ("/data/q",),
            {"flag": 1},
            "Session.get() got an unexpected keyword argument 'flag'",
        ),
        (
            "set",
            ("/data/q",),
            {"path": "/data/r"},
            "Session.set() got multiple values for argument 'path'",
        ),
        ("set", ("/data/q",), {}, "Session.set() missing 1 required positional argument: 'value'"),
        (
            "remove_row",
            (),
            {},
            "Session.remove_row() missing 2 required positional arguments: 'path' and 'position'",
        ),
        (
            "add_row",
            (),
            {"paths": "x"},
            "Session.add_row() got an unexpected keyword argument 'paths'",
        ),
        (
            "choices",
            ("a", "b"),
            {},
            "Session.choices() takes 1 positional arguments but 2 were given",
        ),
        ("get", (5,), {}, "argument 'path': 'int' object cannot be converted to 'PyString'"),
        (
            "get",
            (None,),
            {},
            "argument 'path': 'NoneType' object cannot be converted to 'PyString'",
        ),
        (
            "set",
            ("/data/q",),
            {"value": 1},
            "argument 'value': 'int' object cannot be converted to 'PyString'",
        ),
    ],
    ids=[
        "get-missing",
        "get-too-many",
        "get-unexpected",
        "set-multiple",
        "set-missing",
        "remove-missing-two",
        "add-unexpected",
        "choices-too-many",
        "get-int",
        "get-none",
        "set-int",
    ],
)
def test_method_binding_errors(session, method, args, kwargs, message):
    with pytest.raises(TypeError) as e:
        getattr(session, method)(*args, **kwargs)
    assert str(e.value) == message


def test_methods_without_parameters_refuse_arguments(session):
    with pytest.raises(TypeError):
        session.recompute(1)
    with pytest.raises(TypeError):
        session.instance_xml(x=1)


class CauseError(Exception):
    pass


class SubTypeError(TypeError):
    pass


def raise_subclass():
    raise SubTypeError("kept")


def raise_with_cause():
    raise TypeError("no index here") from CauseError("underneath")


@pytest.mark.parametrize(
    "position, error, message",
    [
        (-1, OverflowError, None),
        (2**64, OverflowError, None),
        (Index(lambda: -1), OverflowError, None),
        (1.0, TypeError, "argument 'position': 'float' object cannot be interpreted as an integer"),
        (Index(raise_with_cause), TypeError, "argument 'position': no index here"),
        (Index(raise_subclass), SubTypeError, "kept"),
    ],
    ids=["negative", "too-big", "index-negative", "float", "index-type-error", "subclass-kept"],
)
def test_position_conversion(session, position, error, message):
    with pytest.raises(error) as e:
        session.remove_row("/data/r", position)
    assert type(e.value) is error
    if message is not None:
        assert str(e.value) == message


def test_restated_type_error_keeps_the_cause(session):
    with pytest.raises(TypeError) as e:
        session.remove_row("/data/r", Index(raise_with_cause))
    assert isinstance(e.value.__cause__, CauseError)
    assert str(e.value.__cause__) == "underneath"


@pytest.mark.parametrize(
    "reentry, message",
    [
        (lambda s: s.get("/data/q"), "Already mutably borrowed"),
        (lambda s: s.get(5), "Already mutably borrowed"),
        (lambda s: s.instance_xml(), "Already mutably borrowed"),
        (lambda s: repr(s), "Already mutably borrowed"),
        (lambda s: s.set("/data/q", "1"), "Already borrowed"),
        (lambda s: s.recompute(), "Already borrowed"),
    ],
    ids=["get", "get-before-conversion", "instance_xml", "repr", "set", "recompute"],
)
def test_borrow_refused_inside_remove_row(session, reentry, message):
    before = session.instance_xml()
    with pytest.raises(RuntimeError) as e:
        session.remove_row("/data/r", Index(lambda: reentry(session)))
    assert type(e.value) is RuntimeError
    assert str(e.value) == message
    # Nothing was removed, and the borrow was given back.
    assert session.instance_xml() == before
    assert session.get("/data/q") == ""
