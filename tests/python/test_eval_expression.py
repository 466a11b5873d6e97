import pytest

import tovarn
from support import LOCAL_DATE, LOCAL_NOW, local_clock_texts, not_implemented


@pytest.mark.parametrize(
    "expression, submission, result",
    [
        ("1 + 1", "<data/>", "2"),
        ("1 div 0", "<data/>", "Infinity"),
        ("/data/a = 'x'", "<data><a>x</a></data>", "true"),
        ("/data/a", "<data><a>first</a><a>second</a></data>", "first"),
        ("/data/b", "<data><a>x</a></data>", ""),
        (".", "<data><a>1</a><b>2</b></data>", "12"),
        (" 1 ", "<data/>", "1"),
    ],
    ids=["number", "infinity", "boolean", "first-node", "empty-node-set", "context-is-root",
         "blanks-around"],
)
def test_string_value(expression, submission, result):
    assert tovarn.eval_expression(expression, submission) == result


def test_none_means_absent():
    assert tovarn.eval_expression("1", "<a/>", today=None, now=None) == tovarn.eval_expression(
        "1", "<a/>"
    )


@pytest.mark.parametrize(
    "expression, submission, message",
    [
        ("", "<data/>", "expected a node test, found None"),
        ("/data/a", "<data>", "unclosed elements"),
        ("((", "<data>", "unclosed elements"),
        (
            "$x",
            "<data/>",
            "variable $x: XForms has no variables, so this expression cannot be what the form "
            "meant",
        ),
        (
            "instance('lists')/root/item",
            "<data/>",
            "instance('lists') is not loaded — the form expects a secondary instance the "
            "evaluator was not given",
        ),
    ],
    ids=["empty-expression", "unparsable-submission", "submission-before-expression", "variable",
         "instance-not-loaded"],
)
def test_errors_raise_runtime_error_bare(expression, submission, message):
    with pytest.raises(RuntimeError) as e:
        tovarn.eval_expression(expression, submission)
    assert type(e.value) is RuntimeError
    assert e.value.args == (message,)


def test_instance_inside_the_submission():
    submission = (
        '<data><instance id="lists"><root><item>a</item><item>b</item></root></instance></data>'
    )
    assert tovarn.eval_expression("instance('lists')/root/item", submission) == "a"


@pytest.mark.parametrize(
    "submission, today, now, expected",
    [
        ("<data><today>2024-05-01</today></data>", None, None, ("2024-05-01", LOCAL_NOW)),
        ("<data><today>2024-05-01</today></data>", "2023-01-01", None, ("2023-01-01", LOCAL_NOW)),
        ("<data><today>2024-05-01</today></data>", "", "", ("", "")),
        ("<data><end>2024-05-01T10:11:12.000+02:00</end><start>2024-05-01T09:00:00Z</start></data>",
         None, None, ("2024-05-01", "2024-05-01T10:11:12.000+02:00")),
        ("<data><start>2024-05-01T09:00:00Z</start></data>", None, None,
         ("2024-05-01", "2024-05-01T09:00:00Z")),
        ("<data><start>2024-05-01T09:00:00Z</start><end>2024-06-02T09:00:00Z</end></data>", None, None,
         ("2024-06-02", "2024-06-02T09:00:00Z")),
        ("<data><end>2024-5-1</end></data>", None, None, ("2024-5-1", "2024-5-1")),
        ("<data><meta><today> </today></meta><today>2024-05-01</today>"
         "<end> 2024-05-01T10:00:00Z </end></data>", None, None,
         ("2024-05-01", " 2024-05-01T10:00:00Z ")),
        ("<data><end>\n    2021-11-30T10:00:00.000Z\n  </end></data>", None, None,
         ("2021-11-30", "\n    2021-11-30T10:00:00.000Z\n  ")),
        ("<data><start>\u3000 2021-11-30T10:00:00.000Z</start></data>", None, None,
         ("2021-11-30", "\u3000 2021-11-30T10:00:00.000Z")),
        ("<data><today> 2024-05-01 </today></data>", None, None, (" 2024-05-01 ", LOCAL_NOW)),
        ("<data><end>2024-05-0é1</end></data>", None, None, ("2024-05-0", "2024-05-0é1")),
        ("<today>2024-05-01</today>", None, None, (LOCAL_DATE, LOCAL_NOW)),
        ("<data/>", None, "now", (LOCAL_DATE, "now")),
        ("<data/>", "today", None, ("today", LOCAL_NOW)),
        ("<data/>", None, None, (LOCAL_DATE, LOCAL_NOW)),
        ("<data><g><x/><start>S1</start></g><start>S2</start><h><today>T</today></h></data>",
         None, None, ("T", "S1")),
        ("<data today='2024-05-01' end='e'><g start='s'/></data>", None, None, (LOCAL_DATE, LOCAL_NOW)),
        ("<data><end>E<b>1</b></end><end>F</end></data>", "t", None, ("t", "E1")),
    ],
    ids=["today-element", "today-argument", "empty-arguments", "end-and-start", "start-only",
         "end-before-start", "short-end", "blank-first-today", "indented-end", "indented-start",
         "today-element-untrimmed", "cut-on-character", "root-never-counts", "default-today",
         "default-now", "defaults", "first-in-document-order", "attributes-never-count",
         "end-string-value"],
)
def test_clock(submission, today, now, expected):
    def texts():
        return tovarn.eval_expression("concat(today(), '|', now())", submission, today, now).split("|")
    assert local_clock_texts(texts) == expected


def test_unimplemented_function():
    with pytest.raises(RuntimeError) as e:
        tovarn.eval_expression("uuid()", "<data/>")
    assert str(e.value) == not_implemented("uuid")
