"""Boolean and number functions, through eval_expression."""

import pytest

import tovarn

ITEMS = "<data><item>1</item><item> 2 </item><item>3</item></data>"
ITEMS_X = "<data><item>1</item><item>2</item><item>x</item></data>"
NS = "<data><n>3</n><n>9</n></data>"
TWO_A = "<data><a>p</a><a>q</a><b>z</b></data>"

CASES = [
    # booleans
    ("true()", "<data/>", "true"),
    ("false()", "<data/>", "false"),
    ("boolean('0')", "<data/>", "true"),
    ("boolean(' ')", "<data/>", "true"),
    ("boolean('')", "<data/>", "false"),
    ("boolean(0)", "<data/>", "false"),
    ("boolean(-0)", "<data/>", "false"),
    ("boolean(0 div 0)", "<data/>", "false"),
    ("boolean(-1 div 0)", "<data/>", "true"),
    ("not(/data/missing)", "<data/>", "true"),
    ("not(/data)", "<data/>", "false"),
    ("boolean-from-string('1')", "<data/>", "true"),
    ("boolean-from-string('true')", "<data/>", "true"),
    ("boolean-from-string('TRUE')", "<data/>", "true"),
    ("boolean-from-string('tRuE')", "<data/>", "true"),
    ("boolean-from-string(' true')", "<data/>", "false"),
    ("boolean-from-string('true ')", "<data/>", "false"),
    ("boolean-from-string('01')", "<data/>", "false"),
    ("boolean-from-string('1.0')", "<data/>", "false"),
    ("boolean-from-string('yes')", "<data/>", "false"),
    ("boolean-from-string('')", "<data/>", "false"),
    ("boolean-from-string(1)", "<data/>", "true"),
    ("boolean-from-string(true())", "<data/>", "true"),
    ("boolean-from-string(/data)", "<data>True</data>", "true"),
    # if() returns the chosen value unconverted: a node-set stays one
    ("count(if(1 = 1, /data/a, 'x'))", TWO_A, "2"),
    ("if(1 = 1, /data/a, 'x')", TWO_A, "p"),
    ("if(false(), /data/a, /data/b)", TWO_A, "z"),
    ("if('', 1, 2)", "<data/>", "2"),
    ("if(true(), 1, unknown())", "<data/>", "1"),
    ("if(false(), unknown(), 'no')", "<data/>", "no"),
    # number()
    ("number()", "<data> 42 </data>", "42"),
    ("number()", "<data>4<a>2</a></data>", "42"),
    ("number('+5')", "<data/>", "5"),
    ("number('1e3')", "<data/>", "1000"),
    ("number('.5')", "<data/>", "0.5"),
    ("number('abc')", "<data/>", "NaN"),
    ("number('')", "<data/>", "NaN"),
    ("number(true())", "<data/>", "1"),
    ("number(/data/item)", ITEMS, "1"),
    ("number(/data/none)", ITEMS, "NaN"),
    # truncation, floor, ceiling, abs
    ("int(-2.7)", "<data/>", "-2"),
    ("int(2.7)", "<data/>", "2"),
    ("int('abc')", "<data/>", "NaN"),
    ("int(1 div 0)", "<data/>", "Infinity"),
    ("int(-1 div 0)", "<data/>", "-Infinity"),
    ("1 div int(-0.5)", "<data/>", "-Infinity"),
    ("int('1e300')", "<data/>", "1" + "0" * 300),
    ("abs(-3.5)", "<data/>", "3.5"),
    ("1 div abs(-0)", "<data/>", "Infinity"),
    ("abs(0 div 0)", "<data/>", "NaN"),
    ("abs(-1 div 0)", "<data/>", "Infinity"),
    ("floor(-0.5)", "<data/>", "-1"),
    ("floor(2.5)", "<data/>", "2"),
    ("floor(0 div 0)", "<data/>", "NaN"),
    ("ceiling(-0.5)", "<data/>", "0"),
    ("1 div ceiling(-0.5)", "<data/>", "-Infinity"),
    ("ceiling(2.1)", "<data/>", "3"),
    # round(): halves away from zero, negative zero kept
    ("round(2.5)", "<data/>", "3"),
    ("round(-2.5)", "<data/>", "-3"),
    ("round(0.5)", "<data/>", "1"),
    ("round(-0.5)", "<data/>", "-1"),
    ("round(1.4999999999999998)", "<data/>", "1"),
    ("round(0.49999999999999994)", "<data/>", "0"),
    ("round(-0.4)", "<data/>", "0"),
    ("1 div round(-0.4)", "<data/>", "-Infinity"),
    ("1 div round(-0)", "<data/>", "-Infinity"),
    ("round(4503599627370497)", "<data/>", "4503599627370497"),
    ("round(-4503599627370497)", "<data/>", "-4503599627370497"),
    ("round('1e300')", "<data/>", "1" + "0" * 300),
    ("round(1 div 0)", "<data/>", "Infinity"),
    ("round(-1 div 0)", "<data/>", "-Infinity"),
    ("round(0 div 0)", "<data/>", "NaN"),
    ("round('2.5')", "<data/>", "3"),
    # round(x, d)
    ("round(1.25, 1)", "<data/>", "1.3"),
    ("round(-1.25, 1)", "<data/>", "-1.3"),
    ("round(0.125, 2)", "<data/>", "0.13"),
    ("round(150, -2)", "<data/>", "200"),
    ("round(-150, -2)", "<data/>", "-200"),
    ("round(2.5, 0)", "<data/>", "3"),
    ("round(1.2345, 2.9)", "<data/>", "1.23"),
    ("round(1.2345, -0.9)", "<data/>", "1"),
    ("round(1.5, 400)", "<data/>", "NaN"),
    ("round(0, 400)", "<data/>", "NaN"),
    ("round(1.5, -400)", "<data/>", "NaN"),
    ("round(1.5, 0 div 0)", "<data/>", "NaN"),
    ("round(1.5, 1 div 0)", "<data/>", "NaN"),
    ("round(1 div 0, 2)", "<data/>", "Infinity"),
    ("round(0 div 0, 2)", "<data/>", "NaN"),
    # C library maths
    ("pow(2, 10)", "<data/>", "1024"),
    ("pow(2, -1)", "<data/>", "0.5"),
    ("pow(0, 0)", "<data/>", "1"),
    ("pow(0 div 0, 0)", "<data/>", "1"),
    ("pow(-8, 1 div 3)", "<data/>", "NaN"),
    ("pow(10, 400)", "<data/>", "Infinity"),
    ("pow(0, -1)", "<data/>", "Infinity"),
    ("sqrt(16)", "<data/>", "4"),
    ("sqrt(2)", "<data/>", "1.4142135623730951"),
    ("sqrt(-4)", "<data/>", "NaN"),
    ("1 div sqrt(-0)", "<data/>", "-Infinity"),
    ("log(0)", "<data/>", "-Infinity"),
    ("log(-1)", "<data/>", "NaN"),
    ("log(1)", "<data/>", "0"),
    ("log10(100)", "<data/>", "2"),
    ("log10(0)", "<data/>", "-Infinity"),
    ("exp(0)", "<data/>", "1"),
    ("exp(1)", "<data/>", "2.718281828459045"),
    ("exp(1000)", "<data/>", "Infinity"),
    # sum() reads every node; starts from negative zero
    ("sum(/data/item)", ITEMS, "6"),
    ("sum(/data/item)", ITEMS_X, "NaN"),
    ("sum(/data/none)", ITEMS, "0"),
    ("1 div sum(/data/none)", ITEMS, "-Infinity"),
    ("sum(/data/item/@v)", "<data><item v='1.5'/><item v='2'/></data>", "3.5"),
    ("sum(/data/item)", "<data><item>0.1</item><item>0.2</item></data>", "0.30000000000000004"),
    # min() and max() read every node of every argument
    ("max(1, '7', /data/n)", NS, "9"),
    ("min(1, '7', /data/n)", NS, "1"),
    ("min(/data/n, 5)", NS, "3"),
    ("max(/data/n)", NS, "9"),
    ("max(true(), 0)", "<data/>", "1"),
    ("max()", "<data/>", "NaN"),
    ("min()", "<data/>", "NaN"),
    ("min(/data/none)", NS, "NaN"),
    ("min(1, 0 div 0)", "<data/>", "NaN"),
    ("max(0 div 0, 1)", "<data/>", "NaN"),
    ("max(1, /data/item)", ITEMS_X, "NaN"),
    ("max(-1 div 0, -5)", "<data/>", "-5"),
    ("min('1e400', 3)", "<data/>", "3"),
]


@pytest.mark.parametrize("expression, xml, expected", CASES, ids=[c[0] for c in CASES])
def test_value(expression, xml, expected):
    assert tovarn.eval_expression(expression, xml) == expected


FAILURES = [
    ("sum('3')", "sum() adds up a node-set, and was given a string"),
    ("sum(3)", "sum() adds up a node-set, and was given a number"),
    ("sum(true())", "sum() adds up a node-set, and was given a boolean"),
    ("if(unknown(), 1, 2)", "unknown function unknown()"),
    ("if(true(), unknown(), 2)", "unknown function unknown()"),
    ("not(unknown())", "unknown function unknown()"),
    ("round(1, unknown())", "unknown function unknown()"),
    ("pow(unknown(), $x)", "unknown function unknown()"),
    ("min(2, unknown())", "unknown function unknown()"),
    # a NaN does not stop min() and max() from evaluating what follows
    ("max(0 div 0, unknown())", "unknown function unknown()"),
    ("sum(unknown())", "unknown function unknown()"),
]


@pytest.mark.parametrize("expression, message", FAILURES, ids=[c[0] for c in FAILURES])
def test_failure(expression, message):
    with pytest.raises(RuntimeError) as e:
        tovarn.eval_expression(expression, "<data/>")
    assert str(e.value) == message
