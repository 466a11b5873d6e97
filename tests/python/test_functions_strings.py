"""String functions, through eval_expression. Lengths and positions count
Unicode characters; searches compare bytes."""

import pytest

import tovarn

ITEMS = "<data><item>a</item><item>b</item><item>c</item></data>"
CLEF = "\U0001d11e"  # one character, four bytes in UTF-8

CASES = [
    # string()
    ("string()", "<data>ab<c>cd</c></data>", "abcd"),
    ("string(/data/item)", ITEMS, "a"),
    ("string(/data/none)", ITEMS, ""),
    ("string(1 div 0)", "<data/>", "Infinity"),
    ("string(-0)", "<data/>", "0"),
    ("string(false())", "<data/>", "false"),
    # string-length() counts characters, not bytes
    ("string-length('héllo')", "<data/>", "5"),
    (f"string-length('{CLEF}')", "<data/>", "1"),
    ("string-length('日本語')", "<data/>", "3"),
    ("string-length('')", "<data/>", "0"),
    ("string-length()", "<data>héllo</data>", "5"),
    ("string-length(string())", "<data>ab<c>cd</c></data>", "4"),
    ("string-length(/data/item)", ITEMS, "1"),
    # normalize-space() uses the Unicode White_Space set
    ("normalize-space()", "<data>\tone\u00a0two\n </data>", "one two"),
    ("normalize-space('  a   b  ')", "<data/>", "a b"),
    ("normalize-space('\u3000x\u2003\u2028y\u205f')", "<data/>", "x y"),
    ("normalize-space('\u200bx')", "<data/>", "\u200bx"),
    ("normalize-space('   ')", "<data/>", ""),
    ("normalize-space('')", "<data/>", ""),
    # concat(): one argument reads every node, several read first nodes
    ("concat(/data/item)", ITEMS, "abc"),
    ("concat(/data/item, '')", ITEMS, "a"),
    ("concat('', /data/item)", ITEMS, "a"),
    ("concat(1, true())", "<data/>", "1true"),
    ("concat()", "<data/>", ""),
    ("concat('x')", "<data/>", "x"),
    ("concat(0.5 * 3)", "<data/>", "1.5"),
    ("concat(/data/none)", ITEMS, ""),
    ("concat('a', 'b', 'c', 'd', 'e')", "<data/>", "abcde"),
    # join()
    ("join(', ', /data/item)", ITEMS, "a, b, c"),
    ("join(', ', 'x')", "<data/>", "x"),
    ("join('-', /data/none)", ITEMS, ""),
    ("join('-', /data/item[2])", ITEMS, "b"),
    ("join('', /data/item)", ITEMS, "abc"),
    ("join(/data/item, /data/item)", ITEMS, "aabac"),
    ("join('-', 3)", "<data/>", "3"),
    # searches
    ("contains('abc', '')", "<data/>", "true"),
    ("contains('', '')", "<data/>", "true"),
    ("contains('abc', 'bc')", "<data/>", "true"),
    ("contains('abc', 'C')", "<data/>", "false"),
    ("contains('héllo', 'él')", "<data/>", "true"),
    ("starts-with('abc', '')", "<data/>", "true"),
    ("starts-with('abc', 'ab')", "<data/>", "true"),
    ("starts-with('abc', ' ab')", "<data/>", "false"),
    ("ends-with('abc', 'bc')", "<data/>", "true"),
    ("ends-with('abc', '')", "<data/>", "true"),
    ("ends-with('abc', 'abcd')", "<data/>", "false"),
    ("substring-before('a=b=c', '=')", "<data/>", "a"),
    ("substring-after('a=b=c', '=')", "<data/>", "b=c"),
    ("substring-before('abc', '')", "<data/>", ""),
    ("substring-after('abc', '')", "<data/>", "abc"),
    ("substring-before('abc', 'x')", "<data/>", ""),
    ("substring-after('abc', 'x')", "<data/>", ""),
    ("substring-after('abc', 'c')", "<data/>", ""),
    ("substring-after('日本語', '本')", "<data/>", "語"),
    ("substring-before(12.5, '.')", "<data/>", "12"),
    # substring(): positions from 1, rounded halves away from zero
    ("substring('12345', 2)", "<data/>", "2345"),
    ("substring('12345', 2, 3)", "<data/>", "234"),
    ("substring('12345', 1.5, 2.6)", "<data/>", "234"),
    ("substring('12345', 0, 3)", "<data/>", "12"),
    ("substring('12345', 2.5)", "<data/>", "345"),
    ("substring('12345', 1.5, 1.5)", "<data/>", "23"),
    ("substring('12345', -0.5, 3)", "<data/>", "1"),
    ("substring('12345', 0.5, 1)", "<data/>", "1"),
    ("substring('12345', 5, 10)", "<data/>", "5"),
    ("substring('12345', 6)", "<data/>", ""),
    ("substring('12345', 3, -1)", "<data/>", ""),
    ("substring('12345', 3, 0)", "<data/>", ""),
    ("substring('', 1)", "<data/>", ""),
    # substring(): NaN and infinite positions
    ("substring('12345', -42, 1 div 0)", "<data/>", "12345"),
    ("substring('12345', 0 div 0)", "<data/>", "12345"),
    ("substring('12345', 0 div 0, 1 div 0)", "<data/>", "12345"),
    ("substring('12345', 0 div 0, 3)", "<data/>", ""),
    ("substring('12345', 1, 0 div 0)", "<data/>", ""),
    ("substring('12345', 2, -1 div 0)", "<data/>", "2345"),
    ("substring('12345', 1 div 0)", "<data/>", ""),
    ("substring('12345', 1 div 0, 2)", "<data/>", ""),
    ("substring('12345', -1 div 0)", "<data/>", "12345"),
    ("substring('12345', -1 div 0, 2)", "<data/>", ""),
    ("substring('12345', '1e300')", "<data/>", ""),
    ("substring('12345', '-1e300', '1e301')", "<data/>", "12345"),
    ("substring('12345', 2, '1e300')", "<data/>", "2345"),
    # substring(): characters, never bytes
    ("substring('héllo', 2, 3)", "<data/>", "éll"),
    (f"substring('a{CLEF}b', 2, 1)", "<data/>", CLEF),
    (f"substring('{CLEF}{CLEF}{CLEF}', 3)", "<data/>", CLEF),
    # substr(): positions from 0, end exclusive, negatives from the end
    ("substr('hello', 1, 3)", "<data/>", "el"),
    ("substr('hello', -3)", "<data/>", "llo"),
    ("substr('hello', 1, -1)", "<data/>", "ell"),
    ("substr('hello', 7)", "<data/>", ""),
    ("substr('hello', 3, 2)", "<data/>", ""),
    ("substr('hello', -0.5)", "<data/>", "o"),
    ("substr('hello', 1.9, 3.9)", "<data/>", "el"),
    ("substr('hello', -10)", "<data/>", "hello"),
    ("substr('hello', 0, 99)", "<data/>", "hello"),
    ("substr('hello', 0 div 0)", "<data/>", ""),
    ("substr('hello', 1, 0 div 0)", "<data/>", "ello"),
    ("substr('hello', 1 div 0)", "<data/>", ""),
    ("substr('hello', -1 div 0)", "<data/>", "hello"),
    ("substr('hello', 1, 1 div 0)", "<data/>", "ello"),
    ("substr('hello', '-1e300', '1e300')", "<data/>", "hello"),
    ("substr('héllo', 1, 2)", "<data/>", "é"),
    (f"substr('a{CLEF}b', -2, -1)", "<data/>", CLEF),
    ("concat(substring('abcdef', 2, 3), '|', substr('abcdef', 1, 4))", "<data/>", "bcd|bcd"),
    # translate()
    ("translate('bar', 'abc', 'ABC')", "<data/>", "BAr"),
    ("translate('--aaa--', 'a-', 'A')", "<data/>", "AAA"),
    ("translate('aa', 'aa', 'xy')", "<data/>", "xx"),
    ("translate('abc', '', 'x')", "<data/>", "abc"),
    ("translate('héllo', 'é', 'e')", "<data/>", "hello"),
    ("translate('hello', 'l', 'é')", "<data/>", "heééo"),
    (f"translate('a{CLEF}b', '{CLEF}', 'x')", "<data/>", "axb"),
    (f"translate('abc', 'b', '{CLEF}')", "<data/>", f"a{CLEF}c"),
    ("translate('abc', 'cba', 'z')", "<data/>", "z"),
    # coalesce()
    ("coalesce('', 'x')", "<data/>", "x"),
    ("coalesce(' ', 'x')", "<data/>", " "),
    ("coalesce('a', unknown())", "<data/>", "a"),
    ("coalesce(/data/none, 'd')", ITEMS, "d"),
    ("coalesce(/data/item, 'd')", ITEMS, "a"),
    ("coalesce('', '')", "<data/>", ""),
]


@pytest.mark.parametrize("expression, xml, expected", CASES, ids=[c[0] for c in CASES])
def test_value(expression, xml, expected):
    assert tovarn.eval_expression(expression, xml) == expected


# The first argument that fails ends the call; later ones are not evaluated.
FAILURES = [
    ("coalesce('', unknown())", "unknown function unknown()"),
    ("concat('a', unknown(), $x)", "unknown function unknown()"),
    ("concat(unknown())", "unknown function unknown()"),
    ("join(unknown(), $x)", "unknown function unknown()"),
    ("substring('abc', unknown(), $x)", "unknown function unknown()"),
    ("substr('abc', 1, unknown())", "unknown function unknown()"),
    ("translate('abc', unknown(), $x)", "unknown function unknown()"),
    ("string-length(unknown())", "unknown function unknown()"),
    ("contains(unknown(), $x)", "unknown function unknown()"),
]


@pytest.mark.parametrize("expression, message", FAILURES, ids=[c[0] for c in FAILURES])
def test_failure(expression, message):
    with pytest.raises(RuntimeError) as e:
        tovarn.eval_expression(expression, "<data/>")
    assert str(e.value) == message
