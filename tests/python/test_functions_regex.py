"""regex(), through eval_expression: the whole value must match, in the
Unicode dialect of \\d, \\w and \\s; patterns the engine would read differently
are refused."""


import pytest

import tovarn
from support import run_child

D = "<data/>"


def rx(value, pattern):
    return f"regex('{value}', '{pattern}')"


CASES = [
    (rx("abc", "b"), D, "false"),
    (rx("abc", "a.c"), D, "true"),
    (rx("ab", "a|ab"), D, "true"),
    (rx("ba", "a|b"), D, "false"),
    (rx("", ""), D, "true"),
    (rx("x", ""), D, "false"),
    (rx("ABC", "abc"), D, "false"),
    (rx("ABC", "(?i)abc"), D, "true"),
    (rx("a\nb", "a.b"), D, "false"),
    (rx("a\nb", "(?s)a.b"), D, "true"),
    (rx("é", "."), D, "true"),
    (rx("日本語", "\\w{3}"), D, "true"),
    (rx("٣٤", "\\d+"), D, "true"),
    (rx("²", "\\d"), D, "false"),
    (rx("x\u00a0y", "x\\sy"), D, "true"),
    (rx("x\u200by", "x\\sy"), D, "false"),
    (rx("é", "[^\\W\\d_]"), D, "true"),
    (rx("_", "[^\\W\\d_]"), D, "false"),
    (rx("ab-12", "[a-z]+-\\d{2}"), D, "true"),
    (rx("a_b", "a\\_b"), D, "true"),
    (rx("7", "\\p{Nd}"), D, "true"),
    (rx("ab cd", "\\bab\\b.\\bcd"), D, "true"),
    # the value is a string conversion: a node-set through its first node
    ("regex(/data/v, '\\d+')", "<data><v>123</v><v>x</v></data>", "true"),
    ("regex(12.5, '\\d+\\.\\d')", D, "true"),
    ("regex(true(), 'true')", D, "true"),
]


@pytest.mark.parametrize("expression, xml, expected", CASES, ids=[c[0] for c in CASES])
def test_value(expression, xml, expected):
    assert tovarn.eval_expression(expression, xml) == expected


def bad(pattern_quoted, why):
    return f"regex(): {pattern_quoted} is not a pattern this engine can build — {why}"


FAILURES = [
    (rx("a", "("), bad('"("', "missing ): (")),
    # pasted between anchors this would match any value starting with a
    (rx("abc", "a)|(b"), bad('"a)|(b"', "unexpected ): a)|(b")),
    (rx("a", "(a)\\1"), bad('"(a)\\\\1"', "backreferences and octal escapes are not supported")),
    (rx("a", "[a&&b]"), bad('"[a&&b]"', "class set operations (&&, --, ~~) are not supported")),
    (rx("a", "[a[b]]"), bad('"[a[b]]"', "nested character classes are not supported")),
    (rx("a", "[\\w-z]"), bad('"[\\\\w-z]"', "a class such as \\w cannot begin a range")),
    (rx("a{x}", "a{x}"),
     bad('"a{x}"', "a '{' must begin a counted repetition such as {2} or {2,5}; "
                   "write \\{ for the character")),
    (rx("a", "\\<a"), bad('"\\\\<a"', "\\< and \\> (start and end of a word) are not supported")),
    (rx("a", "\\Qa\\E"), bad('"\\\\Qa\\\\E"', "\\Q...\\E quoting is not supported")),
    (rx("a", "a\\C"), bad('"a\\\\C"', "\\C (any single byte) is not supported")),
    # RE2's \b would see no word character in é and answer false
    (rx("é", "\\b.\\b"),
     bad('"\\\\b.\\\\b"', "\\b and \\B know only ASCII word characters here, and the value "
                           "is not ASCII")),
    (rx("a", "(?<n>a)"), bad('"(?<n>a)"', "invalid perl operator: (?<")),
    (rx("a", "a{1001}"), bad('"a{1001}"', "invalid repetition size: {1001}")),
    (rx("a", "[z-\\d]"), bad('"[z-\\\\d]"', "invalid character class range")),
    (rx("a", "\t("), bad('"\\t("', "missing ): \t(")),
    ("regex(unknown(), $x)", "unknown function unknown()"),
    ("regex('a', unknown())", "unknown function unknown()"),
    ("regex('a')", "regex() takes 2 argument(s), got 1"),
]


@pytest.mark.parametrize("expression, message", FAILURES, ids=[c[0] for c in FAILURES])
def test_failure(expression, message):
    with pytest.raises(RuntimeError) as e:
        tovarn.eval_expression(expression, D)
    assert str(e.value) == message


def test_nesting_limit():
    nested = lambda depth: "(" * depth + "a" + ")" * depth
    assert tovarn.eval_expression(rx("a", nested(250)), D) == "true"
    with pytest.raises(RuntimeError) as e:
        tovarn.eval_expression(rx("a", nested(251)), D)
    assert str(e.value).endswith(" — the pattern nests deeper than 250 levels")


def test_hostile_patterns_fail_cleanly():
    # In a child process, so a crash fails this test alone.
    code = (
        "import tovarn\n"
        "for p in ['(' * 1000000, '[' * 1000000, 'a' + '*' * 100000, '\\\\w{1000}' * 10,\n"
        "          '((a{1000}){1000}){1000}', 'a|' * 1000000, '.*' * 249999]:\n"
        "    try:\n"
        "        tovarn.eval_expression(\"regex('a', '\" + p + \"')\", '<data/>')\n"
        "    except RuntimeError as e:\n"
        "        assert 'is not a pattern this engine can build' in str(e), str(e)[:200]\n"
        "print('done')\n"
    )
    run = run_child(code, timeout=120)
    assert run.returncode == 0, run.stderr[-2000:]
    assert run.stdout == "done\n"
    assert run.stderr == ""  # RE2 writes there when a pattern outgrows its walkers
