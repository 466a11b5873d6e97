"""What the reader makes of comments, CDATA sections, character references and
line ends, seen through the module: each fixture is one way real files were
misread."""

import pytest

import tovarn
from support import xform, xml


@pytest.mark.parametrize(
    "expression, submission, result",
    [
        ("count(/data/q)", "<data><!-- <q>x</q> --><b>1</b></data>", "0"),
        ("/data/b", "<data><!-- <q>x</q> --><b>1</b></data>", "1"),
        ("/a", "<a><![CDATA[x<y]]></a>", "x<y"),
        ("/b", "<b><![CDATA[1]]></b>", "1"),
        ("/a", "<a>x<![CDATA[y]]>z</a>", "xyz"),
        ("/name", "<name>Ren&#233;e</name>", "Ren\u00e9e"),
        ("/a", "<a>&amp;#60;&#38;lt;&#xD800;</a>", "&#60;&lt;&#xD800;"),
        ("/a/@k", "<a k='1&#10;2\r\n3'/>", "1\n2 3"),
        ("/a", "<a>1\r\n2\r3</a>", "1\n2\n3"),
        ("/a", "<?pi <b/>?><!DOCTYPE a [<!ENTITY e '<b/>'>]><a>&e;</a>", "&e;"),
    ],
    ids=["comment-holds-no-element", "comment-ends-nothing-else", "cdata-markup", "cdata-number",
         "cdata-joins-run", "character-reference", "one-pass", "attribute-line-ends",
         "text-line-ends", "doctype-not-expanded"],
)
def test_submission_read_as_xml(expression, submission, result):
    assert tovarn.eval_expression(expression, submission) == result


@pytest.mark.parametrize(
    "submission, message",
    [
        ("<a><!-- x</a>", "unterminated comment"),
        ("<a><![CDATA[x</a>", "unterminated CDATA section"),
        ("<?xml version='1.0'<a/>", "unterminated processing instruction"),
        ("<!DOCTYPE a [<!ENTITY e 'v'><a/>", "unterminated DOCTYPE declaration"),
    ],
    ids=["comment", "cdata", "instruction", "doctype"],
)
def test_unterminated_markup_is_refused(submission, message):
    with pytest.raises(RuntimeError) as e:
        tovarn.eval_expression("1", submission)
    assert e.value.args == (message,)


def test_commented_out_bind_is_not_a_rule():
    form = xform('<bind nodeset="/data/q" type="string"/>'
                 '<!-- <bind nodeset="/data/q" calculate="last()"/> -->')
    assert tovarn.check_form(form) == []


def test_rule_written_over_lines_with_a_reference():
    # Form converters write a line break in an attribute as "&#10;".
    form = xform('<bind nodeset="/data/q" calculate="1 +&#10;2"/>')
    assert tovarn.Session(form).recompute()["calculated"] == {"/data/q": "3"}


def test_saved_instance_with_a_reference_is_written_back_as_text():
    form = xform('<bind nodeset="/data/name" type="string"/>', "<data><name/></data>")
    s = tovarn.Session(form, instance="<data><name>Ren&#233;e</name></data>")
    assert s.get("/data/name") == "Ren\u00e9e"
    assert xml(s) == "<data><name>Ren\u00e9e</name></data>"
