"""Node-set, context and choice-list functions, through eval_expression."""

import pytest

import tovarn

ITEMS = "<data><item>a</item><item>b</item><item>c</item></data>"
MIXED = "<data v='1'><a>x</a><b>y</b></data>"

CASES = [
    # count()
    ("count(/data/item)", ITEMS, "3"),
    ("count(/data/none)", ITEMS, "0"),
    ("count(/data/item | /data/item)", ITEMS, "3"),
    ("count(/data/@v)", MIXED, "1"),
    # last() and position() read the context of the call, inside a predicate
    # that of the predicate
    ("/data/item[position() = last()]", ITEMS, "c"),
    ("/data/item[last() - 1]", ITEMS, "b"),
    ("count(/data/item[position() > 1])", ITEMS, "2"),
    ("concat(position(), last())", ITEMS, "11"),
    ("/data/item[string-length(concat(position(), last())) = 2][2]", ITEMS, "b"),
    # name() and local-name()
    ("name()", ITEMS, "data"),
    ("local-name()", ITEMS, "data"),
    ("name(/data/*[2])", MIXED, "b"),
    ("local-name(/data/*)", MIXED, "a"),
    ("name(/data/@v)", MIXED, "v"),
    ("name(/data/none)", MIXED, ""),
    ("local-name(/data/none)", MIXED, ""),
    ("name()", "<h:data xmlns:h='urn:x'><h:q/></h:data>", "data"),
    ("local-name(/*)", "<h:data xmlns:h='urn:x'><h:q/></h:data>", "q"),
    ("/data/*[name() = 'b']", MIXED, "y"),
    # once() never evaluates its argument
    ("once(unknown())", "<data>t</data>", "t"),
    ("once($x)", "<data>t</data>", "t"),
    ("once(/data/b)", MIXED, "xy"),
    ("/data/*[once(/data/b) = 'x']", MIXED, "x"),
    # selected()
    ("selected('a b c', 'b')", "<data/>", "true"),
    ("selected('a b c', ' b ')", "<data/>", "true"),
    ("selected('a b c', 'c')", "<data/>", "true"),
    ("selected('ab c', 'a')", "<data/>", "false"),
    ("selected('a b', '')", "<data/>", "false"),
    ("selected('a b', ' ')", "<data/>", "false"),
    ("selected('', '')", "<data/>", "false"),
    ("selected('a b', 'a b')", "<data/>", "false"),
    ("selected('a B', 'b')", "<data/>", "false"),
    ("selected('a\u00a0b\u3000c', 'c')", "<data/>", "true"),
    ("selected('a\u200bb', 'b')", "<data/>", "false"),
    ("selected(/data, 'y')", "<data> x\ny\t</data>", "true"),
    ("selected(/data/item, 'b')", ITEMS, "false"),
    ("selected(1, 1)", "<data/>", "true"),
    # selected-at()
    ("selected-at('a b c', 0)", "<data/>", "a"),
    ("selected-at('a b c', 1)", "<data/>", "b"),
    ("selected-at('a b c', 1.9)", "<data/>", "b"),
    ("selected-at('a b c', 0 div 0)", "<data/>", "a"),
    ("selected-at('a b c', -0)", "<data/>", "a"),
    ("selected-at('a b c', 3)", "<data/>", ""),
    ("selected-at('a b c', -1)", "<data/>", ""),
    ("selected-at('a b c', -0.5)", "<data/>", ""),
    ("selected-at('a b c', 1 div 0)", "<data/>", ""),
    ("selected-at('a b c', '1e300')", "<data/>", ""),
    ("selected-at('  a   b ', 1)", "<data/>", "b"),
    ("selected-at('', 0)", "<data/>", ""),
    ("selected-at('x y', '1')", "<data/>", "y"),
    # count-selected()
    ("count-selected(' a  b ')", "<data/>", "2"),
    ("count-selected('a')", "<data/>", "1"),
    ("count-selected('')", "<data/>", "0"),
    ("count-selected(' \t\n')", "<data/>", "0"),
    ("count-selected('a\u3000b\u2029c')", "<data/>", "3"),
    ("count-selected(/data/none)", ITEMS, "0"),
]


@pytest.mark.parametrize("expression, xml, expected", CASES, ids=[c[0] for c in CASES])
def test_value(expression, xml, expected):
    assert tovarn.eval_expression(expression, xml) == expected


FAILURES = [
    ("count('a')", "count() counts nodes, and was given a string"),
    ("count(1)", "count() counts nodes, and was given a number"),
    ("count(true())", "count() counts nodes, and was given a boolean"),
    ("count(string(/data))", "count() counts nodes, and was given a string"),
    ("local-name('x')", "local-name() names a node, and was given a string"),
    ("name(1)", "name() names a node, and was given a number"),
    ("name(1 = 1)", "name() names a node, and was given a boolean"),
    ("count(unknown())", "unknown function unknown()"),
    ("name(unknown())", "unknown function unknown()"),
    ("selected(unknown(), $x)", "unknown function unknown()"),
    ("selected-at('a', unknown())", "unknown function unknown()"),
    ("count-selected(unknown())", "unknown function unknown()"),
]


@pytest.mark.parametrize("expression, message", FAILURES, ids=[c[0] for c in FAILURES])
def test_failure(expression, message):
    with pytest.raises(RuntimeError) as e:
        tovarn.eval_expression(expression, "<data/>")
    assert str(e.value) == message
