"""The function table: exact names, arity checks, refusals, unknown names and
lazy arguments, through eval_expression."""

import pytest

import tovarn
from support import not_implemented, refusal

ITEMS = "<data><item>a</item><item>bb</item><item>c</item></data>"


# Every function with an arity check and its allowed counts.
ALLOWED = {
    "true": [0], "false": [0], "last": [0], "position": [0], "today": [0], "now": [0],
    "not": [1], "boolean": [1], "boolean-from-string": [1], "int": [1], "abs": [1],
    "floor": [1], "ceiling": [1], "sqrt": [1], "log": [1], "log10": [1], "exp": [1],
    "sum": [1], "count": [1], "once": [1], "count-selected": [1],
    "pow": [2], "contains": [2], "starts-with": [2], "ends-with": [2],
    "substring-before": [2], "substring-after": [2], "join": [2], "coalesce": [2],
    "selected": [2], "selected-at": [2], "format-date": [2], "format-date-time": [2],
    "regex": [2], "choice-name": [2], "jr:choice-name": [2],
    "if": [3], "translate": [3],
    "number": [0, 1], "string": [0, 1], "string-length": [0, 1], "normalize-space": [0, 1],
    "name": [0, 1], "local-name": [0, 1],
    "round": [1, 2],
    "substring": [2, 3], "substr": [2, 3],
}

REFUSED = [
    "uuid", "date", "digest", "current", "randomize", "date-time", "checklist",
    "decimal-time", "indexed-repeat", "decimal-date-time", "weighted-checklist",
    "position-in-repeat",
]


def call(name, count):
    # Arguments that would fail if evaluated: the check comes first.
    return f"{name}({', '.join(['unknown()'] * count)})"


ARITY = [
    (name, given, allowed)
    for name, allowed in ALLOWED.items()
    for given in sorted({min(allowed) - 1, max(allowed) + 1, 4} - {-1} - set(allowed))
]


@pytest.mark.parametrize("name, given, allowed", ARITY,
                         ids=[f"{n}/{g}" for n, g, _ in ARITY])
def test_arity(name, given, allowed):
    counts = " or ".join(str(k) for k in allowed)
    assert refusal(call(name, given)) == f"{name}() takes {counts} argument(s), got {given}"


@pytest.mark.parametrize("expression, message", [
    ("substring('x')", "substring() takes 2 or 3 argument(s), got 1"),
    ("true(1)", "true() takes 0 argument(s), got 1"),
    ("round()", "round() takes 1 or 2 argument(s), got 0"),
    ("not(unknown(), 1)", "not() takes 1 argument(s), got 2"),
    ("if(true(), 1)", "if() takes 3 argument(s), got 2"),
    ("jr:choice-name('x')", "jr:choice-name() takes 2 argument(s), got 1"),
], ids=lambda v: v if "(" in v else None)
def test_arity_message(expression, message):
    assert refusal(expression) == message


@pytest.mark.parametrize("name", REFUSED)
@pytest.mark.parametrize("args", ["", "1, 2", "unknown()", "$x", "1, 2, 3, 4, 5"])
def test_refused_whatever_the_arguments(name, args):
    assert refusal(f"{name}({args})") == not_implemented(name)


@pytest.mark.parametrize("expression, name", [
    ("Concat('a', 'b')", "Concat"),
    ("TRUE()", "TRUE"),
    ("xf:concat('a')", "xf:concat"),
    ("jr:count(/data)", "jr:count"),
    ("JR:choice-name('a', 'b')", "JR:choice-name"),
    ("choice_name('a', 'b')", "choice_name"),
    ("count(instance('x'))", "instance"),
    ("concat(instance('x'), 'a')", "instance"),
    ("foo($x)", "foo"),
    ("foo(unknown())", "foo"),
    ("substrin('abc', 1)", "substrin"),
    ("substrings('abc', 1)", "substrings"),
    ("a()", "a"),
    ("zzz()", "zzz"),
], ids=lambda v: v)
def test_unknown(expression, name):
    assert refusal(expression) == f"unknown function {name}()"


@pytest.mark.parametrize("expression, message", [
    ("pulldata('a', 'b')", "pulldata() needs an argument in position 3"),
    ("pulldata()", "pulldata() needs an argument in position 1"),
    ("area()", "area() needs an argument in position 1"),
], ids=lambda v: v if "(" in v else None)
def test_missing_argument(expression, message):
    assert refusal(expression) == message


# Functions without an arity check never touch arguments their steps do not
# reach, and arguments see the call's own context.
@pytest.mark.parametrize("expression, expected", [
    ("concat()", ""),
    ("min()", "NaN"),
    ("max()", "NaN"),
    ("if(true(), 1, unknown())", "1"),
    ("once(unknown())", "abbc"),
    ("coalesce('a', $x)", "a"),
    ("string-length(string())", "4"),
    ("/data/item[string-length(string()) = 2]", "bb"),
    ("/data/item[position() = last()]", "c"),
    ("count(/data/item[position() = last() - 2])", "1"),
    ("/data/item[contains(concat('x', .), 'xc')]", "c"),
], ids=lambda v: v)
def test_arguments(expression, expected):
    assert tovarn.eval_expression(expression, ITEMS) == expected
