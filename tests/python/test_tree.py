
import pytest

import tovarn
from support import run_child


@pytest.mark.parametrize(
    "submission, message",
    [
        ("<a", "unterminated tag"),
        ("</a>", "closing tag without opening"),
        ("<h:a></h:b>", "closing </b> does not match open <a>"),
        ("<a/><b/>", "more than one root element"),
        ("<a><b>", "unclosed elements"),
        ("<?xml version='1.0'?><!-- only a comment -->", "no root element"),
    ],
    ids=["unterminated", "closing-alone", "mismatch", "two-roots", "unclosed", "declarations-only"],
)
def test_reader_refusals(submission, message):
    with pytest.raises(RuntimeError) as e:
        tovarn.eval_expression("1", submission)
    assert e.value.args == (message,)


@pytest.mark.parametrize(
    "expression, submission, result",
    [
        ("/data/a", "<data><a> 1 </a></data>", " 1 "),
        ("/data/a", "<data><a>x<b/>y</a></data>", "x"),
        ("/data/a", "<data><a>&amp;lt;&#60;&#38;lt;&nbsp;</a></data>", "&lt;<&lt;&nbsp;"),
        ("/data/a/@k", "<data><a k='x&gt;y' k='z'/></data>", "x>y"),
        ("/html/body", "<h:html xmlns:h='u'><h:body>t</h:body></h:html>", "t"),
    ],
    ids=["untrimmed-text", "first-run-only", "references-one-pass", "first-attribute",
         "local-names"],
)
def test_reader_texts(expression, submission, result):
    assert tovarn.eval_expression(expression, submission) == result


def test_million_deep_submission_in_a_child_process():
    script = (
        "import tovarn\n"
        "n = 1000000\n"
        "xml = '<a>' * (n - 1) + '<a>x</a>' + '</a>' * (n - 1)\n"
        "print(tovarn.eval_expression('string(/a)', xml))\n"
    )
    done = run_child(script)
    assert done.returncode == 0, done.stderr
    assert done.stdout == "x\n"
