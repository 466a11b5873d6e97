import pytest

import tovarn
from support import refusal, run_child


@pytest.mark.parametrize(
    "expression, message",
    [
        ("", "expected a node test, found None"),
        ("   ", "expected a node test, found None"),
        ("1 +", "expected a node test, found None"),
        ("a | -b", "expected a node test, found Some(Minus)"),
        ("f(,)", "expected a node test, found Some(Comma)"),
        ("a = = b", "expected a node test, found Some(Equal)"),
        ("f(1", "expected RightParen, found None"),
        ("(1 2)", "expected RightParen, found Some(Number(2.0))"),
        ("(1 0.00001)", "expected RightParen, found Some(Number(1e-5))"),
        ("node(1)", "expected RightParen, found Some(Number(1.0))"),
        ("f(a b)", 'expected RightParen, found Some(Name("b"))'),
        ("processing-instruction('x')", 'expected RightParen, found Some(Literal("x"))'),
        ("a[1", "expected RightBracket, found None"),
        ("namespace::x", "unsupported axis 'namespace'"),
        ("Child::x", "unsupported axis 'Child'"),
        ("1e3", 'unexpected trailing input in "1e3" at token 1'),
        ("a AND b", 'unexpected trailing input in "a AND b" at token 1'),
        ("@child::x", 'unexpected trailing input in "@child::x" at token 2'),
        ("1 'a\"b'", "unexpected trailing input in \"1 'a\\\"b'\" at token 1"),
        ("1\t)\n", 'unexpected trailing input in "1\\t)\\n" at token 1'),
        ("1 )\u0301", "unexpected character '\u0301'"),
        ("1 ) \u00e9", 'unexpected trailing input in "1 ) \u00e9" at token 1'),
        ("1 )\u00a0", 'unexpected trailing input in "1 )\\u{a0}" at token 1'),
        ("1.2.3", "'1.2.3' is not a number"),
        ("!a", "unexpected character '!'"),
        ("a:::b", "unexpected character ':'"),
        ("/data/x \u20ac 1", "unexpected character '\u20ac'"),
        ("\u00e9 'abc", "unterminated string starting at character 3"),
        ("x = 'abc", "unterminated string starting at character 5"),
        ("selected(${x}, 'a')", "unexpected character '{'"),
    ],
    ids=[
        "empty", "blank", "missing-operand", "minus-after-pipe", "missing-argument",
        "double-equal", "unclosed-call", "unclosed-parenthesis", "exponent-float-form",
        "node-type-argument", "argument-without-comma", "pi-literal", "unclosed-predicate",
        "namespace-axis", "axis-case", "exponent-is-a-name", "operator-case", "attribute-axis-name",
        "quoted-quotes", "quoted-controls", "combining-mark", "quoted-letter", "quoted-no-break-space",
        "two-points", "bang", "triple-colon", "euro-sign", "position-in-characters",
        "unterminated", "unexpanded-reference",
    ],
)
def test_parse_message(expression, message):
    assert refusal(expression) == message


def test_parse_failure_comes_before_evaluation():
    # $x would fail to evaluate; the trailing token is found first.
    assert refusal("$x $y") == 'unexpected trailing input in "$x $y" at token 1'


@pytest.mark.parametrize(
    "build",
    [
        "'1' + '+1' * 200000",
        "'(' * 100000 + '1' + ')' * 100000",
        "'-' * 1000000 + '1'",
        "'a[' * 100000 + '1' + ']' * 100000",
        "'a' + ' or a' * 200000",
    ],
    ids=["long-sum", "nested-parentheses", "negations", "nested-predicates", "long-or"],
)
def test_hostile_depth_is_refused(build):
    run = run_child(
        f"""
        import tovarn
        try:
            tovarn.eval_expression({build}, "<data/>")
        except RuntimeError as e:
            print(e)
        """
    )
    assert run.returncode == 0, run.stderr
    assert run.stdout == "expression nests deeper than 1000 levels\n"


def test_deepest_accepted_expression_evaluates():
    run = run_child(
        """
        import tovarn
        print(tovarn.eval_expression("1" + "+1" * 1000, "<data/>"))
        print(tovarn.eval_expression("(" * 1000 + "2" + ")" * 1000, "<data/>"))
        """
    )
    assert run.returncode == 0, run.stderr
    assert run.stdout == "1001\n2\n"
