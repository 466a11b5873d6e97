"""area() and distance(), through eval_expression. Expected values were worked
out by hand from the same formulas in 64-bit floats (R = 6378100 m)."""

import pytest

import tovarn
from support import xform

D = "<data/>"
POINTS = "<data><here>0 0</here><site>0 1</site><p>0 1</p><p>0 0</p></data>"
TRACE = "<data><shape>0 0 0 0; 0 1 0 0; 1 1 0 0; 1 0 0 0</shape><shape>x</shape></data>"

CASES = [
    ("area('')", D, "0"),
    ("distance('')", D, "0"),
    ("area('1 2;3 4')", D, "0"),
    ("distance('1 2')", D, "0"),
    # one degree of a great circle: R × k, less a rounding in the cosines
    ("distance('0 0;0 1')", D, "111318.84502143922"),
    ("distance('0 1;0 0')", D, "111318.84502143922"),
    ("distance('-1.5 36.8;-1.3 36.9')", D, "24890.16202842391"),
    ("distance('-1.5 36.8;-1.3 36.9;-1.2 37.0')", D, "40631.14998938964"),
    # no leg closes the line
    ("distance('0 0;0 1;0 0')", D, "222637.69004287844"),
    ("distance('0 0;0 180')", D, "20037392.10386106"),
    # equal points: c just above 1 is clamped; just below 1 leaves centimetres
    ("distance('37.1 10;37.1 10')", D, "0"),
    ("distance('63 10;63 10')", D, "0.09504109621047974"),
    ("area('0 0;0 1;1 1;1 0')", D, "12390941584.836643"),
    ("area('0 0;0 1;1 1;1 0;0 0')", D, "12390941584.836643"),
    ("area('0 0;1 0;1 1;0 1')", D, "12390941584.836643"),
    ("area('-1.5 36.8;-1.3 36.9;-1.2 37.0')", D, "61952914.71634582"),
    # one bad item empties the list
    ("area('0 0;0 1;x 1;1 0')", D, "0"),
    ("area('0 0;0 1;1;1 0')", D, "0"),
    ("distance('0 0;0 1;0 1e')", D, "0"),
    ("distance('0 0;0,5 1')", D, "0"),
    # altitude and accuracy are never read
    ("distance('0 0 100 5;0 1 abc 5')", D, "111318.84502143922"),
    # white space around items and empty items are harmless
    ("distance(' 0 0 ; ;0 1 ')", D, "111318.84502143922"),
    ("distance('0\u00a00;0\u20031')", D, "111318.84502143922"),
    ("distance('+0 .0;0. 1e0')", D, "111318.84502143922"),
    # NaN coordinates are numbers, and give NaN
    ("distance('nan 0;0 1')", D, "NaN"),
    ("area('0 0;0 1;NaN 1')", D, "NaN"),
    # a node-set gives its first node's text; area() reads no further argument
    ("area(/data/shape)", TRACE, "12390941584.836643"),
    ("area('0 0;0 1;1 1', unknown())", D, "6195942628.45484"),
    ("area('0 0', '0 1', '1 1')", D, "0"),
    ("area(3)", D, "0"),
    # several arguments are one line, argument after argument
    ("distance('0 0', '0 1')", D, "111318.84502143922"),
    ("distance('0 0', '0 1', '0 2')", D, "222637.69004287844"),
    ("distance('0 0;0 1', '0 2')", D, "222637.69004287844"),
    ("distance('0 0', '0 1', '0 0')", D, "222637.69004287844"),
    ("distance(/data/here, /data/site)", POINTS, "111318.84502143922"),
    ("distance(/data/here, /data/site, /data/here)", POINTS, "222637.69004287844"),
    ("distance(/data/p, '0 2')", POINTS, "111318.84502143922"),
    ("distance('0 0 100 5', ' 0 1 ; ', '')", D, "111318.84502143922"),
    ("distance('0 0', '0 0')", D, "0"),
    ("distance('0 0', /data/nothing)", POINTS, "0"),
    # one bad item in any argument empties the line, as in one text
    ("distance('0 0', 'x', '0 1')", D, "0"),
    ("distance('0 0', '0 1', '0')", D, "0"),
    ("distance(0, 1)", D, "0"),
]


@pytest.mark.parametrize("expression, xml, expected", CASES, ids=[c[0] for c in CASES])
def test_value(expression, xml, expected):
    assert tovarn.eval_expression(expression, xml) == expected


FAILURES = [
    ("area()", "area() needs an argument in position 1"),
    ("distance()", "distance() needs an argument in position 1"),
    ("area(unknown())", "unknown function unknown()"),
    ("distance(unknown(), 1)", "unknown function unknown()"),
    ("distance('0 0', unknown())", "unknown function unknown()"),
    ("distance('0 0;0 1', $x)",
     "variable $x: XForms has no variables, so this expression cannot be what the form meant"),
]


@pytest.mark.parametrize("expression, message", FAILURES, ids=[c[0] for c in FAILURES])
def test_failure(expression, message):
    with pytest.raises(RuntimeError) as e:
        tovarn.eval_expression(expression, D)
    assert str(e.value) == message


# The constraint of a form that keeps an answer near a site.
@pytest.mark.parametrize("here, site, expected", [
    ("0 0 0 5", "0 0.0005", []),
    ("0 0 0 5", "0 1", ["/data/here: too far from the site"]),
    ("0 0 0 5", "", []),
], ids=["near", "far", "no-site"])
def test_constraint_between_two_answers(here, site, expected):
    form = xform('<bind nodeset="/data/here" constraint="distance(., /data/site) &lt; 100"'
                 ' jr:constraintMsg="too far from the site"/>', "<data><here/><site/></data>")
    found = tovarn.submission_findings(form, f"<data><here>{here}</here><site>{site}</site></data>")
    assert [f["says"] for f in found] == expected
