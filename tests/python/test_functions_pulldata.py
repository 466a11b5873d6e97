"""pulldata() through eval_expression, whose plain clock serves no tables: every
table is missing. The lookup itself is tested on built tables in
tests/cpp/pulldata_test.cpp."""

import pytest

import tovarn

D = "<data/>"
# pulldata() asks the environment alone, never the evaluated document.
WITH_INSTANCE = "<data><instance id='fruit'><root><item><name>apple</name></item></root></instance></data>"

NO_TABLE = "the form declares it as an external file, and nothing has loaded it"

FAILURES = [
    ("pulldata('fruit', 'price', 'name', 'apple')", D,
     f"pulldata() cannot find the table 'fruit' — {NO_TABLE}"),
    ("pulldata('fruit', 'price', 'name', 'apple')", WITH_INSTANCE,
     f"pulldata() cannot find the table 'fruit' — {NO_TABLE}"),
    # the id as evaluated, not trimmed
    ("pulldata(' my table ', 'a', 'b', 'c')", D,
     f"pulldata() cannot find the table ' my table ' — {NO_TABLE}"),
    ("pulldata('missing', 'a', 'b', 'c', unknown())", D,
     f"pulldata() cannot find the table 'missing' — {NO_TABLE}"),
    # every argument is evaluated before the table is asked for
    ("pulldata('fruit', 'price', 'name')", D, "pulldata() needs an argument in position 4"),
    ("pulldata('fruit', 'price')", D, "pulldata() needs an argument in position 3"),
    ("pulldata()", D, "pulldata() needs an argument in position 1"),
    ("pulldata('fruit', unknown(), $x)", D, "unknown function unknown()"),
]


@pytest.mark.parametrize("expression, xml, message", FAILURES, ids=[c[0] for c in FAILURES])
def test_failure(expression, xml, message):
    with pytest.raises(RuntimeError) as e:
        tovarn.eval_expression(expression, xml)
    assert str(e.value) == message
