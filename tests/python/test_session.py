"""A Session's construction, its clock, get and set by path, instance_xml and
the repr."""

import datetime

import pytest

import support
import tovarn
from support import HEAD, LOCAL_DATE, LOCAL_NOW, TAIL, local_clock_texts, run_child, xml

BIND = '<bind nodeset="/data/q" type="string"/>'


def xform(instance="<data><q/></data>", binds=BIND):
    return support.xform(binds, instance)


# --- construction -------------------------------------------------------------


def test_fresh_instance_and_repr():
    s = tovarn.Session(xform())
    assert s.instance_xml() == "<?xml version='1.0' ?><data><q/></data>"
    assert repr(s) == "<tovarn.Session 39 bytes>"


@pytest.mark.parametrize("instance, expected", [
    ('<data><r jr:template=""><x>d</x></r><r><x/></r><z/></data>', "<data><r><x/></r><z/></data>"),
    ('<data><r template="false"><x/></r></data>', "<data/>"),
    ('<data jr:template=""><q/></data>', '<data template=""><q/></data>'),
    ('<data><g><r jr:template="" a="1"/></g></data>', "<data><g/></data>"),
], ids=["template-beside-row", "any-value", "root-never-cut", "nested-in-group"])
def test_templates_are_cut_from_the_fresh_instance(instance, expected):
    assert xml(tovarn.Session(xform(instance))) == expected


def test_first_instance_with_an_id_is_still_the_primary_one():
    form = (f'{HEAD}<instance id="main"><data><q>1</q></data></instance>'
            f'<instance><other/></instance>{BIND}{TAIL}')
    assert xml(tovarn.Session(form)) == "<data><q>1</q></data>"


@pytest.mark.parametrize("saved, expected", [
    ("<data><q>4</q></data>", "<data><q>4</q></data>"),
    ('<data><r jr:template=""><x>lost</x></r><r><x>kept</x></r></data>',
     "<data><r><x>kept</x></r></data>"),
    ('<data id="x" version="0"><q>1</q></data>', '<data id="x" version="0"><q>1</q></data>'),
], ids=["kept", "templates-dropped", "id-where-the-form-has-none"])
def test_saved_instance(saved, expected):
    s = tovarn.Session(xform('<data><q/><r jr:template=""><x/></r></data>'), instance=saved)
    assert xml(s) == expected


NOT_AN_XFORM = "the document is not an XForm: it has no <model> element"


@pytest.mark.parametrize("form, saved, message", [
    ("<h:html>", None, "XForm XML: unclosed elements"),
    (xform(binds=""), None, "the XForm declares no binds, so it carries no rules"),
    (xform(), "<data>", "saved instance: unclosed elements"),
    (f"{HEAD}{BIND}{TAIL}", None, "the XForm has no primary instance"),
    (f"{HEAD}<instance>text only</instance>{BIND}{TAIL}", None,
     "the XForm's primary instance is empty"),
    ("<instance><data/><model/></instance>", None, "the XForm declares no binds, so it carries no rules"),
    ("<data><q/></data>", None, NOT_AN_XFORM),
    ("<html><body><p>page</p></body></html>", "<data/>", NOT_AN_XFORM),
    ('<data><instance><d/></instance><bind nodeset="/d"/></data>', None, NOT_AN_XFORM),
    # The form's own errors come before the saved instance's.
    ("<h:html>", "<data>", "XForm XML: unclosed elements"),
    (f"{HEAD}{BIND}{TAIL}", "<data>", "saved instance: unclosed elements"),
    (xform(), "<other><q>1</q></other>",
     "saved instance: the submission's root element is <other>, and this form's instance is <data>"),
    (xform('<data id="f" version="2"><q/></data>'), '<data id="x" version="2"><q/></data>',
     "saved instance: the submission is for form 'x', and this form is 'f'"),
    (f"{HEAD}{BIND}{TAIL}", "<other/>", "the XForm has no primary instance"),
], ids=["xml", "no-binds", "saved-xml", "no-instance", "empty-instance", "root-instance-not-looked-at",
        "submission-as-form", "page-before-saved", "binds-without-model",
        "form-first", "saved-before-primary", "other-root", "other-form-id", "primary-before-other-form"])
def test_construction_refusals(form, saved, message):
    with pytest.raises(RuntimeError) as e:
        tovarn.Session(form, instance=saved)
    assert type(e.value) is RuntimeError
    assert str(e.value) == message


def test_unreadable_form_file():
    with pytest.raises(ValueError) as e:
        tovarn.Session(form="missing.xml")
    assert str(e.value).startswith("form: could not read 'missing.xml': ")


def test_instance_may_be_a_file(tmp_path):
    saved = tmp_path / "saved.xml"
    saved.write_text("<data><q>from file</q></data>", encoding="utf-8")
    assert tovarn.Session(xform(), instance=str(saved)).get("/data/q") == "from file"


@pytest.mark.parametrize("kwargs, saved, expected", [
    ({"today": "2024-05-01"}, None, ("2024-05-01", LOCAL_NOW)),
    ({"now": "2024-05-01T10:00:00Z"}, None, (LOCAL_DATE, "2024-05-01T10:00:00Z")),
    ({"today": "", "now": ""}, None, ("", "")),
    ({}, "<data><q/><today>2023-01-01</today><end>2023-01-01T09:00:00Z</end></data>",
     (LOCAL_DATE, LOCAL_NOW)),
    ({"today": None, "now": None}, None, (LOCAL_DATE, LOCAL_NOW)),
], ids=["today", "now", "empty", "never-from-the-instance", "none-is-absent"])
def test_clock(kwargs, saved, expected):
    form = xform(binds='<bind nodeset="/data/q" calculate="concat(today(), \'|\', now())"/>')

    def texts():
        s = tovarn.Session(form, instance=saved, **kwargs)
        s.recompute()
        return s.get("/data/q").split("|")
    assert local_clock_texts(texts) == expected


def test_clock_read_once_per_session():
    form = xform(binds='<bind nodeset="/data/q" calculate="now()"/>')
    s = tovarn.Session(form)
    first = s.recompute()["calculated"]["/data/q"]
    read = datetime.datetime.fromisoformat(first.replace("Z", "+00:00"))
    while datetime.datetime.now().astimezone() <= read + datetime.timedelta(milliseconds=2):
        pass
    s.set("/data/q", "")
    assert s.recompute()["calculated"] == {"/data/q": first}
    # A new session reads the clock anew.
    assert tovarn.Session(form).recompute()["calculated"]["/data/q"] != first


# --- get ----------------------------------------------------------------------

GET_INSTANCE = '<data a="x"><q>1</q><g>g<q>2</q></g><r><v>a</v></r><r><v>b</v></r></data>'


@pytest.mark.parametrize("path, expected", [
    ("/data/q", "1"),
    ("q", "1"),
    ("/data/g", "g2"),
    ("/data/r/v", "a"),
    ("/data/r[2]/v", "b"),
    ("//q", "1"),
    ("/data/@a", "x"),
    ("/q", "1"),
    ("/data/nothing", ""),
    ("data/q", ""),
    ("!!", ""),
    ("1 + 1", ""),
    ("count(/data/q)", ""),
    ("instance('x')/q", ""),
    ("", ""),
], ids=["plain", "relative", "group", "first-of-several", "indexed", "descendant", "attribute",
        "from-root", "nothing", "relative-names-child", "parse-error", "number", "count", "no-instance",
        "empty"])
def test_get(path, expected):
    assert tovarn.Session(xform(GET_INSTANCE)).get(path) == expected


# --- set ----------------------------------------------------------------------


@pytest.mark.parametrize("instance, path, expected", [
    ("<data><q>1</q></data>", "/data/q", "<data><q>v</q></data>"),
    ('<data><q code="a"/></data>', "/data/q/@code", '<data><q code="v"/></data>'),
    ("<data/>", "/data/group/q", "<data><group><q>v</q></group></data>"),
    ("<data><z/></data>", "/data/q", "<data><z/><q>v</q></data>"),
    ("<data/>", "/other/q", "<data><other><q>v</q></other></data>"),
    ("<data/>", "q", "<data><q>v</q></data>"),
    ("<data/>", "data", "<data><data>v</data></data>"),
    ("<data><g><q/></g><g><q/></g></data>", "/data/g[2]/q", "<data><g><q/></g><g><q>v</q></g></data>"),
    ("<data><g/></data>", "/data//g/q/", "<data><g><q>v</q></g></data>"),
    ("<data/>", "/data/q/@code", '<data><q code="v"/></data>'),
    ("<data><q/></data>", "/data/q/@code", '<data><q code="v"/></data>'),
], ids=["leaf", "attribute", "creates-chain", "appends-last", "other-under-root",
        "one-segment", "one-segment-never-the-root", "existing-row", "doubled-and-trailing-slash",
        "creates-attribute-and-owner", "creates-attribute"])
def test_set(instance, path, expected):
    s = tovarn.Session(xform(instance))
    assert s.set(path, "v") is None
    assert xml(s) == expected


@pytest.mark.parametrize("path", ["/data/q/", "data/q", "/data/q//"],
                         ids=["trailing-slash", "relative-with-root", "doubled"])
def test_set_on_an_unselected_path_writes_the_existing_element(path):
    # The path selects nothing, yet walks to the existing q: q takes the answer
    # rather than gaining a namesake that no get would show.
    s = tovarn.Session(xform("<data><q>1</q><z/></data>"))
    s.set(path, "v")
    assert xml(s) == "<data><q>v</q><z/></data>"
    assert s.get("/data/q") == "v"


def test_set_on_a_group_replaces_its_own_text_only():
    s = tovarn.Session(xform("<data><g>old<q>1</q></g></data>"))
    s.set("/data/g", "v")
    assert s.get("/data/g") == "v1"
    assert s.get("/data/g/q") == "1"


def test_set_then_get_and_new_elements_are_found():
    s = tovarn.Session(xform("<data/>"))
    s.set("/data/g/q", "5")
    assert s.get("/data/g/q") == "5"
    s.set("/data/g/q", "6")
    assert xml(s) == "<data><g><q>6</q></g></data>"


@pytest.mark.parametrize("path, message", [
    ("", "'' names nothing"),
    ("///", "'///' names nothing"),
    ("/data/r[2]/q", "'/data/r[2]/q' points at r[2], which does not exist \u2014 add the row first with add_row()"),
    ("/data/r[1]/q", "'/data/r[1]/q' points at r[1], which does not exist \u2014 add the row first with add_row()"),
    ("/data/r/q[", "'/data/r/q[' points at q[, which does not exist \u2014 add the row first with add_row()"),
    ("/data/r/@bad name", "'/data/r/@bad name' names nothing"),
    ("/data/@a/q", "'/data/@a/q' names nothing"),
    ("count(/data/x)", "'count(/data/x)' names nothing"),
    ("/data/1q", "'/data/1q' names nothing"),
    (" /data/x/ ", "' /data/x/ ' names nothing"),
    ("/data/q\u00d7", "'/data/q\u00d7' names nothing"),
], ids=["empty", "only-slashes", "missing-row", "indexed-segment", "bracket", "attribute-not-a-name",
        "attribute-inside", "function", "digit-first", "blank-segments", "not-a-name-char"])
def test_set_refusals(path, message):
    s = tovarn.Session(xform("<data><r><x/></r></data>"))
    before = s.instance_xml()
    with pytest.raises(ValueError) as e:
        s.set(path, "x")
    assert type(e.value) is ValueError
    assert str(e.value) == message
    assert s.instance_xml() == before


def test_set_accepts_non_ascii_names():
    s = tovarn.Session(xform("<data/>"))
    s.set("/data/f\u00e4ll", "\u00e9")
    assert xml(s) == "<data><f\u00e4ll>\u00e9</f\u00e4ll></data>"
    assert s.get("/data/f\u00e4ll") == "\u00e9"


# --- instance_xml and repr ----------------------------------------------------


def test_instance_xml_escapes_and_repr_counts_bytes():
    s = tovarn.Session(xform())
    s.set("/data/q", 'a<b & "c"')
    assert xml(s) == "<data><q>a&lt;b &amp; &quot;c&quot;</q></data>"
    s.set("/data/q", "\u00e9")
    assert repr(s) == "<tovarn.Session 44 bytes>"
    assert len(s.instance_xml().encode()) == 44


def test_deep_paths_in_a_child_process():
    code = f"""
import tovarn
form = {xform("<data/>")!r}
path = "/data" + "/a" * 200000
s = tovarn.Session(form)
s.set(path, "x")
s.set(path, "y")
saved = s.instance_xml()
again = tovarn.Session(form, instance=saved)
assert again.get(path) == "y"
assert again.recompute()["relevant"] == {{}}
print("ok")
"""
    done = run_child(code, timeout=120)
    assert done.returncode == 0, done.stderr
    assert done.stdout == "ok\n"


def test_set_creates_names_without_their_prefix():
    s = tovarn.Session(xform("<data/>"))
    s.set("/h:data/jr:group/odk:q", "v")
    s.set("/data/group/@jr:code", "c")
    assert xml(s) == '<data><group code="c"><q>v</q></group></data>'
    assert s.get("/data/jr:group/x:q") == "v"
