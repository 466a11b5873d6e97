"""choice-name() and jr:choice-name() through eval_expression, whose plain
clock serves no choice lists: a blank value is the only way to an answer."""

import pytest

import tovarn

D = "<data><q> </q><fruit>apple</fruit></data>"

CASES = [
    ("choice-name(' ', 'q')", D, ""),
    ("choice-name('', unknown())", D, ""),
    ("jr:choice-name('\t', $x)", D, ""),
    ("choice-name(/data/q, '/data/q')", D, ""),
    ("choice-name(/data/none, '/data/q')", D, ""),
]


@pytest.mark.parametrize("expression, xml, expected", CASES, ids=[c[0] for c in CASES])
def test_value(expression, xml, expected):
    assert tovarn.eval_expression(expression, xml) == expected


NO_LIST = "the evaluator was given no choice list for that question"

FAILURES = [
    ("choice-name('x', ' /data/q ')", f'choice-name(): no choice "x" for /data/q — {NO_LIST}'),
    ("jr:choice-name('x', ' /data/q ')",
     f'jr:choice-name(): no choice "x" for /data/q — {NO_LIST}'),
    # the value as evaluated, untrimmed and quoted; the path trimmed, bare
    ("choice-name(' a\"b ', '\u00a0/data/q\n')",
     f'choice-name(): no choice " a\\"b " for /data/q — {NO_LIST}'),
    ("choice-name(/data/fruit, concat('/data/', 'fruit'))",
     f'choice-name(): no choice "apple" for /data/fruit — {NO_LIST}'),
    ("choice-name(1, '')", f'choice-name(): no choice "1" for  — {NO_LIST}'),
    ("choice-name('x', unknown())", "unknown function unknown()"),
    ("choice-name(unknown(), $x)", "unknown function unknown()"),
    ("choice-name('x')", "choice-name() takes 2 argument(s), got 1"),
    ("jr:choice-name('x', 'q', 'r')", "jr:choice-name() takes 2 argument(s), got 3"),
]


@pytest.mark.parametrize("expression, message", FAILURES, ids=[c[0] for c in FAILURES])
def test_failure(expression, message):
    with pytest.raises(RuntimeError) as e:
        tovarn.eval_expression(expression, D)
    assert str(e.value) == message
