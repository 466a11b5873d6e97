import pytest

import tovarn
from support import CORPUS, corpus, run_child  # noqa: F401 (corpus is a fixture)

KEYS = ["says", "path", "rule", "expression", "construct", "breaks", "effect", "suggestion"]

COLLECT = "Collect / KoboCollect"
ENKETO = "Enketo web forms"
DIFFER = "both, differently"
SILENT = "both, identically and silently"

LAST = ("last()", COLLECT, "JavaRosa has no last(), so the rule fails", "count() of the repeat")
FLOOR = (
    "floor()",
    COLLECT,
    "JavaRosa has no floor()",
    "int() for a positive number, or if(x < int(x), int(x) - 1, int(x)) for any x",
)
CEILING = (
    "ceiling()",
    COLLECT,
    "JavaRosa has no ceiling()",
    "if(x > int(x), int(x) + 1, int(x)), which both engines evaluate",
)
SUBSTRING = (
    "substring()",
    COLLECT,
    "JavaRosa has substr() but not substring()",
    "substr(), remembering it counts from 0 and its end is exclusive: "
    "substring(s, 2, 3) is substr(s, 1, 4)",
)
PULLDATA = (
    "pulldata()",
    ENKETO,
    "pulldata() is ODK Collect's own function, not an XForms one. Enketo does not have it, "
    "so every rule that calls it fails there",
    "instance('file')/root/item[key = \u2026]/column, which both engines evaluate",
)
AREA = (
    "area()",
    DIFFER,
    "JavaRosa projects the shape onto a plane and Enketo uses a spherical formula, and Enketo "
    "also rounds to two decimals. Over a city block the two agree within a square metre; over "
    "a degree they differ by a tenth of a percent",
    "round() the result, or compare with a margin",
)
DISTANCE = (
    "distance()",
    DIFFER,
    "Enketo rounds the answer to two decimals and JavaRosa does not, so a rule comparing a "
    "distance against a threshold can fall either side of it",
    "round(distance(\u2026)) or a comparison with room to spare",
)
SHORTHAND = (
    "the // shorthand",
    COLLECT,
    "JavaRosa supports only child steps, so the path matches nothing",
    "the full path from the instance root",
)
NOT_IN_ENKETO = "Enketo does not implement it, so a web form cannot open this"
UNANCHORED = (
    "JavaRosa requires the whole value to match while Enketo accepts a match anywhere in it, "
    "so the same answer passes in one and fails in the other"
)
ALTERNATION = (
    "the ^ and $ bind only to the first and last alternatives, so this is anchored in "
    "JavaRosa and loose in Enketo despite looking anchored"
)
NOT_WRITTEN_OUT = (
    "the pattern is built at runtime, so whether it anchors cannot be checked here \u2014 "
    "the two engines still differ on unanchored ones"
)
MISSING = (
    "the path matches nothing, so the rule reads an empty node-set: a calculation comes out 0, "
    "a comparison comes out false, and a relevant hides its question for the whole of fieldwork"
)


def positional(n):
    return (
        f"the positional predicate [{n}]",
        COLLECT,
        "JavaRosa matches nothing for a bare [n], so this silently reads as empty",
        f"[position() = {n}]",
    )


def repeating(path):
    return (
        f"comparing {path}, which repeats",
        COLLECT,
        "JavaRosa refuses to compare a field that repeats against a value, so the whole rule fails",
        f"count({path}[. = \u2026]) > 0, or indexed-repeat() to name one instance",
    )


def missing(path, suggestion=None):
    return (f"{path}, which this form's instance has no node for", SILENT, MISSING, suggestion)


def form(model, body=""):
    return (
        '<h:html xmlns="http://www.w3.org/2002/xforms" xmlns:h="http://www.w3.org/1999/xhtml"'
        ' xmlns:jr="http://openrosa.org/javarosa">'
        f"<h:head><h:title>t</h:title><model>{model}</model></h:head><h:body>{body}</h:body>"
        "</h:html>"
    )


INSTANCE = "<instance><data><q/><x/><group><age/></group><rep><item/></rep></data></instance>"
REPEAT = '<group><repeat nodeset="/data/rep"/></group>'


def bind(path="/data/q", **rules):
    attrs = "".join(f' {name}="{value}"' for name, value in rules.items())
    return f'<bind nodeset="{path}"{attrs}/>'


def rows(text):
    """Each finding as (path, rule, expression, construct, breaks, effect, suggestion)."""
    findings = tovarn.check_form(text)
    for finding in findings:
        assert list(finding) == KEYS
    return [tuple(f[k] for k in KEYS[1:]) for f in findings]


def expect(path, rule, expression, *issues):
    return [(path, rule, expression) + issue for issue in issues]


# A rule of a bind on /data/q, checked in a form with the instance above and a
# repeat on /data/rep, against the issues it must give.
EXPRESSION_CASES = [
    ("last", "last()", [LAST]),
    ("last-with-argument", "last(1)", [LAST]),
    ("prefixed-or-recased-names", "jr:last() + LAST() + Floor(1)", []),
    ("floor-twice", "floor(1) + floor(2)", [FLOOR, FLOOR]),
    ("ceiling", "ceiling(/data/x)", [CEILING]),
    ("substring", "substring(/data/x, 1, 2)", [SUBSTRING]),
    ("pulldata", "pulldata('t', 'c', 'k', /data/x)", [PULLDATA]),
    ("area", "area(/data/x)", [AREA]),
    ("distance", "distance(/data/x)", [DISTANCE]),
    ("distance-of-several-arguments", "distance(/data/x, /data/q, '0 0')", [DISTANCE]),
    ("geofence", "geofence(/data/x, 'p')", [("geofence()", ENKETO, NOT_IN_ENKETO, None)]),
    ("is-selected", "is-selected(/data/x, 'a')", [("is-selected()", ENKETO, NOT_IN_ENKETO, None)]),
    ("enclosed-area", "enclosed-area(/data/x)", [("enclosed-area()", ENKETO, NOT_IN_ENKETO, None)]),
    ("base64-decode", "base64-decode(/data/x)", [("base64-decode()", ENKETO, NOT_IN_ENKETO, None)]),
    ("extract-signed", "extract-signed(/data/x, 'k')",
     [("extract-signed()", ENKETO, NOT_IN_ENKETO, None)]),
    ("call-in-predicate", "/data/q[last()]", [LAST]),
    ("repeat-field", "/data/rep/item = 'a'", [repeating("/data/rep/item")]),
    ("repeat-itself", "/data/rep != 'a'", [repeating("/data/rep")]),
    ("two-repeat-fields", "/data/rep/item &lt; /data/rep",
     [repeating("/data/rep/item"), repeating("/data/rep")]),
    ("path-sharing-a-prefix", "/data/represent = 'a'", [missing("/data/represent")]),
    ("not-a-comparison", "/data/rep/item + 1", []),
    ("counted-repeat", "count(/data/rep/item) &gt; 0", []),
    ("indexed-repeat-field", "/data/rep/item[1] = 'a'", [positional(1)]),
    ("positional-fraction", "/data/rep/item[2.5]", [positional(2.5)]),
    ("negative-position", "/data/rep/item[-1]", []),
    ("filter-position", "(/data/rep/item)[1]", []),
    ("shorthand", "//item = 'a'", [SHORTHAND]),
    ("shorthand-mid-path", "/data//item", [SHORTHAND]),
    ("shorthand-twice", "count(a//b//c)", [SHORTHAND, SHORTHAND]),
    ("written-shorthand", "count(descendant-or-self::node())", [SHORTHAND]),
    ("descendant-axes", "count(descendant-or-self::q) + count(descendant::q)", []),
    ("regex-unanchored", "regex(., 'abc')",
     [('regex() with the unanchored pattern "abc"', DIFFER, UNANCHORED, "'^(?:abc)$'")]),
    ("regex-escape", "regex(., '\\d+')",
     [('regex() with the unanchored pattern "\\\\d+"', DIFFER, UNANCHORED, "'^(?:\\d+)$'")]),
    ("regex-anchored", "regex(., '^\\d+$')", []),
    ("regex-start-only", "regex(., '^abc')",
     [('regex() with the unanchored pattern "^abc"', DIFFER, UNANCHORED, "'^(?:^abc)$'")]),
    ("regex-end-only", "regex(., 'abc$')",
     [('regex() with the unanchored pattern "abc$"', DIFFER, UNANCHORED, "'^(?:abc$)$'")]),
    ("regex-empty", "regex(., '')",
     [('regex() with the unanchored pattern ""', DIFFER, UNANCHORED, "'^(?:)$'")]),
    ("regex-apostrophe", "regex(., &quot;it's&quot;)",
     [("regex() with the unanchored pattern \"it's\"", DIFFER, UNANCHORED, '"^(?:it\'s)$"')]),
    ("regex-alternation", "regex(., '^a|b$')",
     [('regex() with alternation outside the anchors: "^a|b$"', DIFFER, ALTERNATION,
       "'^(?:^a|b$)$'")]),
    ("regex-alternation-after-close", "regex(., '^(a))|b$')",
     [('regex() with alternation outside the anchors: "^(a))|b$"', DIFFER, ALTERNATION,
       "'^(?:^(a))|b$)$'")]),
    ("regex-alternation-enclosed",
     "regex(., '^(a|b)$') or regex(., '^[a|b]$') or regex(., '^a\\|b$')", []),
    ("regex-no-pattern", "regex(.)",
     [("regex() with a pattern that is not written out", DIFFER, NOT_WRITTEN_OUT, None)]),
    ("regex-built-pattern", "regex(., concat('^', 'a'))",
     [("regex() with a pattern that is not written out", DIFFER, NOT_WRITTEN_OUT, None)]),
    ("boolean-from-string-upper", "boolean-from-string('TRUE')",
     [('boolean-from-string("TRUE")', DIFFER,
       "JavaRosa accepts any casing, Enketo only lowercase 'true'", "'true' in lowercase")]),
    ("boolean-from-string-plain",
     "boolean-from-string('true') or boolean-from-string(/data/x) or boolean-from-string('yes')",
     []),
    # Depth first: a call before its arguments, a step's // before its
    # predicates, a comparison's repeat operands before what lies inside them.
    ("walk-order", "/data/rep/item = floor(a//b[1][ceiling(2)])",
     [repeating("/data/rep/item"), FLOOR, SHORTHAND, positional(1), CEILING]),
]


@pytest.mark.parametrize("expression,issues", [c[1:] for c in EXPRESSION_CASES],
                         ids=[c[0] for c in EXPRESSION_CASES])
def test_expression_checks(expression, issues):
    text = form(INSTANCE + bind(calculate=expression), REPEAT)
    plain = expression.replace("&lt;", "<").replace("&gt;", ">").replace("&quot;", '"')
    assert rows(text) == expect("/data/q", "calculate", plain, *issues)


def test_says_sentence():
    text = form(INSTANCE + bind("/data/q", calculate="last()")
                + bind("/data/x", relevant="geofence()"))
    says = [f["says"] for f in tovarn.check_form(text)]
    assert says == [
        "/data/q (calculate): last() \u2014 JavaRosa has no last(), so the rule fails, "
        "on Collect / KoboCollect. Write count() of the repeat instead.",
        "/data/x (relevant): geofence() \u2014 Enketo does not implement it, so a web form "
        "cannot open this, on Enketo web forms.",
    ]


@pytest.mark.parametrize(
    "rule,says",
    [
        ("pulldata('a', 'b', 'c', 'd')",
         "/data/q (constraint): pulldata() \u2014 " + PULLDATA[2] + ", on Enketo web forms. "
         "Write " + PULLDATA[3] + " instead."),
        ("area(.)",
         "/data/q (constraint): area() \u2014 " + AREA[2] + ", and the two engines differ. "
         "Write round() the result, or compare with a margin instead."),
        ("/date/age",
         "/data/q (constraint): /date/age, which this form's instance has no node for \u2014 "
         + MISSING + ", identically on both engines. Write /data/group/age instead."),
    ],
    ids=["enketo", "both-differently", "both-silently"],
)
def test_says_where_phrases(rule, says):
    text = form(INSTANCE + bind(constraint=rule))
    assert [f["says"] for f in tovarn.check_form(text)] == [says]


def unparsable(message):
    return ("a rule that does not parse", DIFFER,
            f"parsing fails ({message}), so JavaRosa refuses to open the form and Enketo fails "
            "when it runs the rule", None)


@pytest.mark.parametrize("rule, message", [
    ("last(", "expected a node test, found None"),
    (" 1 1 ", 'unexpected trailing input in " 1 1 " at token 1'),
    ("'a", "unterminated string starting at character 1"),
    ("/data/[", "expected a node test, found Some(LeftBracket)"),
    ("child::x/foo::y", "unsupported axis 'foo'"),
    ("(" * 1001 + "1" + ")" * 1001, "expression nests deeper than 1000 levels"),
], ids=["open-call", "trailing-input", "unterminated", "step-without-name", "axis", "too-deep"])
def test_rule_that_does_not_parse(rule, message):
    text = form(INSTANCE + f'<bind nodeset="/data/q" relevant="{rule.replace(chr(34), "&quot;")}"'
                ' calculate="last()"/>' + bind("/data/x", constraint="/data/nope"))
    assert rows(text) == (expect("/data/q", "relevant", rule.strip(), unparsable(message))
                          + expect("/data/q", "calculate", "last()", LAST)
                          + expect("/data/x", "constraint", "/data/nope", missing("/data/nope")))


def test_says_of_a_rule_that_does_not_parse():
    text = form(INSTANCE + bind(constraint=". &gt;"))
    with pytest.raises(RuntimeError) as e:
        tovarn.submission_findings(text, "<data/>")
    assert str(e.value) == ('constraint of /data/q: expected a node test, found None \u2014 '
                            'in expression ". >"')
    (finding,) = tovarn.check_form(text)
    assert finding["says"] == (
        "/data/q (constraint): a rule that does not parse — parsing fails (expected a node "
        "test, found None), so JavaRosa refuses to open the form and Enketo fails when it runs "
        "the rule, and the two engines differ.")


def test_says_head_uses_trimmed_path():
    text = form(INSTANCE + bind(" /data/q ", required="last()"))
    (finding,) = tovarn.check_form(text)
    assert finding["path"] == "/data/q"
    assert finding["says"].startswith("/data/q (required): last() \u2014 ")


def test_walk_order_across_binds_and_rules():
    rules = ('readonly="last()" required="floor(1)" constraint="ceiling(1)" calculate="last()"'
             ' relevant="substring(., 1)"')
    text = form(
        INSTANCE
        + f'<bind nodeset="/data/q" {rules}/>'
        + bind("/data/x", relevant="last() + last()")
        # Binds are taken wherever they stand, inside instance content too.
        + '<instance id="extra"><root>'
        + '<bind nodeset="/data/group/age" calculate="area(.)"/></root></instance>'
    )
    assert rows(text) == (
        expect("/data/q", "relevant", "substring(., 1)", SUBSTRING)
        + expect("/data/q", "calculate", "last()", LAST)
        + expect("/data/q", "constraint", "ceiling(1)", CEILING)
        + expect("/data/q", "required", "floor(1)", FLOOR)
        + expect("/data/q", "readonly", "last()", LAST)
        + expect("/data/x", "relevant", "last() + last()", LAST, LAST)
        + expect("/data/group/age", "calculate", "area(.)", AREA)
    )


def test_expression_findings_precede_path_findings():
    text = form(INSTANCE + bind(calculate="/data/nope + last()"))
    assert rows(text) == expect("/data/q", "calculate", "/data/nope + last()", LAST,
                                missing("/data/nope"))


@pytest.mark.parametrize(
    "calculate, expression",
    [
        # A line break written as a reference stays one; a literal one is
        # read as a space, as in any attribute value.
        ("  last()&#10;+ 1 ", "last()\n+ 1"),
        ("  last()\r\n+ 1 ", "last() + 1"),
    ],
)
def test_expression_is_trimmed_but_keeps_inner_line_breaks(calculate, expression):
    text = form(INSTANCE + bind(calculate=calculate))
    assert [f["expression"] for f in tovarn.check_form(text)] == [expression]


@pytest.mark.parametrize(
    "binds,paths",
    [
        ('<bind nodeset="  " ref="/data/x" calculate="last()"/>', ["/data/x"]),
        ('<bind nodeset="  " calculate="last()"/>', []),
        ('<bind calculate="last()"/>', []),
        # Only the first attribute of a name counts (prefixes are not kept).
        ('<bind nodeset=" " xf:nodeset="/data/q" ref="/data/x" calculate="last()"/>', ["/data/x"]),
        ('<bind nodeset="/data/q" calculate="  " required=" "/>', []),
        ('<bind nodeset=" /data/q " calculate="  " relevant="last(" required="1 +"/>',
         ["/data/q", "/data/q"]),
    ],
    ids=["blank-nodeset-then-ref", "blank-nodeset-no-ref", "no-path",
         "first-nodeset-only", "blank-rules", "unparsable-rules-found"],
)
def test_bind_paths_and_skipped_rules(binds, paths):
    text = form(INSTANCE.replace("<instance>", '<instance xmlns:xf="urn:x">') + binds)
    text = text.replace("<model>", '<model xmlns:xf="urn:xf">')
    assert [f["path"] for f in tovarn.check_form(text)] == paths


def test_form_without_binds():
    assert tovarn.check_form(form(INSTANCE)) == []
    assert tovarn.check_form("<model/>") == []


# Some other XML is refused, not passed as a form with nothing wrong.
@pytest.mark.parametrize("text", [
    "<foo/>",
    "<data><q>1</q><end>2024-05-01T10:00:00Z</end></data>",
    "<html><head><title>page</title></head><body><p>text</p></body></html>",
    '<data><instance><d/></instance><bind nodeset="/d" calculate="last()"/></data>',
], ids=["element", "submission", "page", "binds-without-model"])
def test_not_an_xform(text):
    with pytest.raises(RuntimeError) as e:
        tovarn.check_form(text)
    assert type(e.value) is RuntimeError
    assert str(e.value) == "the document is not an XForm: it has no <model> element"


@pytest.mark.parametrize(
    "repeat,findings",
    [
        ('<repeat nodeset="/data/rep/"/>', 1),
        ('<repeat nodeset=" /data/rep "/>', 1),
        ('<repeat ref="/data/rep"/>', 0),
        # A nodeset of blanks or slashes alone would make every path repeat.
        ('<repeat nodeset=" "/><repeat nodeset="//"/>', 0),
        # Two repeats covering the path still give one finding.
        ('<repeat nodeset="/data"/><repeat nodeset="/data/rep"/>', 1),
    ],
    ids=["trailing-slash", "blanks", "ref-only", "blank-or-slashes", "two-covering"],
)
def test_repeat_paths(repeat, findings):
    text = form(INSTANCE + bind(calculate="/data/rep/item = 1"), repeat)
    assert len(tovarn.check_form(text)) == findings


# The instance path check: (instance content, bind path, rule, findings).
PATH_CASES = [
    ("missing-bound-node", "<data><a/></data>", "/data/q", ". = 'yes'", [missing("/data/q")]),
    ("unique-ending", "<data><group><age/></group></data>", "/data/q", "/data/age",
     [missing("/data/age", "/data/group/age")]),
    ("unique-ending-other-root", "<data><group><age/></group></data>", "/data/group/age",
     "/date/age", [missing("/date/age", "/data/group/age")]),
    ("other-root", "<data><group><age/></group></data>", "/data/group/age", "/date/weight",
     [missing("/date/weight",
              "a path under /data \u2014 that is this form's instance root, not /date")]),
    ("no-suggestion", "<data><group><age/></group></data>", "/data/group/age", "/data/weight",
     [missing("/data/weight")]),
    ("root-counts", "<data><q/></data>", "/data/q", "/other/data", [missing("/other/data", "/data")]),
    ("two-endings", "<data><a><age/></a><b><age/></b><q/></data>", "/data/q",
     "/data/age + /x/age",
     [missing("/data/age"),
      missing("/x/age", "a path under /data \u2014 that is this form's instance root, not /x")]),
    ("byte-for-byte", "<data><age/><q/></data>", "/data/q", "/data/Age",
     [missing("/data/Age")]),
    ("once-per-rule", "<data><q/></data>", "/data/q", "/data/w + /data/w * /data/w",
     [missing("/data/w")]),
    ("collection-order", "<data><q/></data>", "/data/q", "/data/b = 1 or /data/a = 1",
     [missing("/data/b"), missing("/data/a")]),
    ("relative-resolved", "<data><q/><x/></data>", "/data/q", "../x + x + .",
     [missing("/data/q/x", "/data/x")]),
    ("absolute-in-predicate", "<data><rep/><q/></data>", "/data/q", "count(/data/rep[/data/flag = 1])",
     [missing("/data/flag")]),
    ("relative-in-predicate-or-filter", "<data><rep/><q/></data>", "/data/q",
     "count(/data/rep[name = 'x']) + count((nope)[1]) + count(instance('list')/item[k = 1])", []),
    ("secondary-instance", "<data><q/></data>", "/data/q", "/cities/item", []),
    ("attribute-bind", "<data><x/></data>", "/data/x/@code", ".", []),
    ("trailing-slash-bind", "<data><q/></data>", "/data/q/", ".", []),
    # A bind path with blanks around it must still resolve to the node it names.
    ("blank-around-bind", "<data><q/></data>", " /data/q ", ". = 1 and ../q = 1", []),
    ("unresolvable", "<data><q/></data>", "/data/q", "count(//item[name = 'a']) + count(/data/*)",
     [SHORTHAND]),
]


@pytest.mark.parametrize("content,path,rule,issues", [c[1:] for c in PATH_CASES],
                         ids=[c[0] for c in PATH_CASES])
def test_instance_paths(content, path, rule, issues):
    model = (f"<instance>{content}</instance>"
             '<instance id="cities"><root><item/></root></instance>'
             f'<bind nodeset="{path}" relevant="{rule}"/>')
    assert rows(form(model)) == expect(path.strip(), "relevant", rule, *issues)


def test_instance_paths_per_rule_and_per_bind():
    model = (
        "<instance><data><q/><r/></data></instance>"
        + bind("/data/q", relevant="/data/x = 1", calculate="/data/x")
        + bind("/data/r", relevant="/data/x")
    )
    assert [(f["path"], f["rule"]) for f in tovarn.check_form(form(model))] == [
        ("/data/q", "relevant"), ("/data/q", "calculate"), ("/data/r", "relevant")]


@pytest.mark.parametrize(
    "instances",
    [
        "",
        '<instance id="main"><data><q/></data></instance>',
        "<instance/>",
        # A second instance without an id never stands in for an empty first one.
        "<instance/><instance><data><q/></data></instance>",
        # An empty id still makes a secondary instance.
        '<instance id=""><data><q/></data></instance>',
    ],
    ids=["none", "all-with-ids", "empty", "second-without-id", "empty-id"],
)
def test_path_check_needs_an_instance(instances):
    model = instances + bind("/data/q", relevant="/nowhere = last()")
    assert rows(form(model)) == expect("/data/q", "relevant", "/nowhere = last()", LAST)


def test_first_instance_without_id_is_the_form_instance():
    model = ('<instance id="a"><other/></instance><instance><data><q/></data></instance>'
             "<instance><data><x/></data></instance>" + bind("/data/q", relevant="/data/x"))
    assert rows(form(model)) == expect("/data/q", "relevant", "/data/x", missing("/data/x"))


def test_empty_secondary_id_covers_a_path_of_empty_first_step():
    # Base "/" resolves the dot to "/": its first step is the empty text.
    model = ('<instance id=""><x/></instance><instance><data/></instance>'
             + bind("/", relevant=". = 1"))
    assert tovarn.check_form(form(model)) == []


def test_source_from_file(tmp_path):
    path = tmp_path / "form.xml"
    path.write_text(form(INSTANCE + bind(calculate="last()")), encoding="utf-8")
    assert rows(str(path)) == expect("/data/q", "calculate", "last()", LAST)


@pytest.mark.parametrize(
    "source,error,message",
    [
        ("<h><model>", RuntimeError, "XForm XML: unclosed elements"),
        ("<a/><b/>", RuntimeError, "XForm XML: more than one root element"),
        ("<!-- nothing -->", RuntimeError, "XForm XML: no root element"),
        ("no-such-form.xml", ValueError,
         "form: could not read 'no-such-form.xml': No such file or directory (os error 2)"),
    ],
    ids=["unclosed", "two-roots", "no-root", "no-file"],
)
def test_errors(source, error, message):
    with pytest.raises(error) as e:
        tovarn.check_form(source)
    assert str(e.value) == message


def test_arguments():
    with pytest.raises(TypeError) as e:
        tovarn.check_form()
    assert str(e.value) == "check_form() missing 1 required positional argument: 'form'"
    with pytest.raises(TypeError) as e:
        tovarn.check_form(1)
    assert str(e.value) == "argument 'form': 'int' object cannot be converted to 'PyString'"
    assert tovarn.check_form(form=form(INSTANCE)) == []


def test_deep_rules_and_instances_in_child_process():
    # The deepest nesting the parser takes, of several shapes, in rules of a
    # form whose instance is a hundred thousand elements deep.
    script = r"""
import tovarn

def parses(rule):
    # last() gives a finding only in a rule that parsed.
    found = tovarn.check_form('<model><bind nodeset="/a" calculate="%s"/></model>' % rule)
    return any(f["construct"] == "last()" for f in found)

depth = 100000
instance = "<data>" + "<n>" * depth + "</n>" * depth + "</data>"
binds = ""
for open_, close in (("(", ")"), ("floor(", ")"), ("/data/n[", "]"), ("-", ""), ("(/data/n)[", "]")):
    low, high = 1, 5000
    while low < high:
        mid = (low + high + 1) // 2
        if parses(open_ * mid + "last()" + close * mid):
            low = mid
        else:
            high = mid - 1
    binds += '<bind nodeset="/data/n" calculate="%s"/>' % (open_ * low + "/data/m" + close * low)
binds += '<bind nodeset="%s" relevant="."/>' % ("/data" + "/n" * depth)
found = tovarn.check_form("<h><model><instance>%s</instance>%s</model></h>" % (instance, binds))
print(sorted({f["path"] + " " + f["construct"] for f in found}))
"""
    run = run_child(script)
    assert run.returncode == 0, run.stderr
    assert run.stdout.splitlines() == [
        str(["/data/n /data/m, which this form's instance has no node for", "/data/n floor()"])]


def test_many_paths_below_a_long_bind_path_in_child_process():
    # Every path read is relative to a bind path 40,000 segments long: once
    # repeated, once each to a different node of the instance. Resolving or
    # holding each path at the bind path's length would take gigabytes.
    script = r"""
import os, resource, tovarn
if "asan" not in os.environ.get("LD_PRELOAD", ""):
    resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
depth, width = 40000, 40000
names = "".join("<c%d/>" % i for i in range(width))
instance = "<data>" + "<n>" * depth + names + "</n>" * depth + "</data>"
path = "/data" + "/n" * depth
rules = ["concat(" + ", ".join(["."] * width) + ")",
         "concat(" + ", ".join("c%d" % i for i in range(width)) + ", missing)"]
binds = "".join('<bind nodeset="%s" relevant="%s"/>' % (path, rule) for rule in rules)
found = tovarn.check_form("<h><model><instance>%s</instance>%s</model></h>" % (instance, binds))
print([f["construct"][len(path):] for f in found])
"""
    run = run_child(script)
    assert run.returncode == 0, run.stderr
    assert run.stdout.splitlines() == [str(["/missing, which this form's instance has no node for"])]


WHERE = {COLLECT: "on " + COLLECT, ENKETO: "on " + ENKETO, DIFFER: "and the two engines differ",
         SILENT: "identically on both engines"}


def finding(path, rule, expression, issue):
    construct, breaks, effect, suggestion = issue
    tail = f" Write {suggestion} instead." if suggestion else ""
    return {"says": f"{path} ({rule}): {construct} \u2014 {effect}, {WHERE[breaks]}.{tail}",
            "path": path, "rule": rule, "expression": expression, "construct": construct,
            "breaks": breaks, "effect": effect, "suggestion": suggestion}


# Findings that repeat an issue, a rule, a bind or a long bind path, each with
# all its values.
DEEP = "/data" + "/n" * 50
REPEATED_CASES = [
    ("call-repeated", bind(calculate="concat(last(), last(), last())"),
     [("/data/q", "calculate", "concat(last(), last(), last())", LAST)] * 3),
    ("calls-interleaved", bind(calculate="concat(last(), floor(1), last(), floor(1))"),
     [("/data/q", "calculate", "concat(last(), floor(1), last(), floor(1))", issue)
      for issue in (LAST, FLOOR, LAST, FLOOR)]),
    ("same-call-in-two-rules", bind(relevant="last()", calculate="last()"),
     [("/data/q", "relevant", "last()", LAST), ("/data/q", "calculate", "last()", LAST)]),
    ("same-call-in-two-binds", bind("/data/q", calculate="last()") + bind("/data/x", calculate="last()"),
     [("/data/q", "calculate", "last()", LAST), ("/data/x", "calculate", "last()", LAST)]),
    ("long-bind-path", bind(DEEP, relevant="concat(x[1], x[2], x[1], last())"),
     [(DEEP, "relevant", "concat(x[1], x[2], x[1], last())", issue)
      for issue in (positional(1), positional(2), positional(1), LAST,
                    missing(DEEP + "/x", "/data/x"))]),
]


@pytest.mark.parametrize("binds,findings", [c[1:] for c in REPEATED_CASES],
                         ids=[c[0] for c in REPEATED_CASES])
def test_repeated_findings_keep_their_values(binds, findings):
    found = tovarn.check_form(form(INSTANCE + binds))
    assert [list(f) for f in found] == [KEYS] * len(found)
    assert found == [finding(*f) for f in findings]


def test_many_findings_of_one_rule_in_child_process():
    # Ten thousand findings of one rule below a bind path 20,000 segments long:
    # a copy of the rule text or of the bind path per finding would take
    # gigabytes.
    script = r"""
import os, resource, tovarn
if "asan" not in os.environ.get("LD_PRELOAD", ""):
    resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
path = "/data" + "/n" * 20000
rule = "concat(" + ", ".join(["last(), floor(1)"] * 5000) + ")"
found = tovarn.check_form('<h><model><instance><data/></instance><bind nodeset="%s" relevant="%s"/>'
                          '</model></h>' % (path, rule))
print(len(found), [f["construct"] for f in found[:3]],
      all(f["path"] == path and f["expression"] == rule and f["says"].startswith(path + " (relevant): ")
          for f in found))
"""
    run = run_child(script)
    assert run.returncode == 0, run.stderr
    assert run.stdout.splitlines() == ["10000 ['last()', 'floor()', 'last()'] True"]


# floor() and ceiling() against the rewrites their findings suggest, with the x
# of the suggestion filled in, for positive, negative, integral and fractional x.
FLOOR_REWRITE = "if({x} < int({x}), int({x}) - 1, int({x}))"
CEILING_REWRITE = "if({x} > int({x}), int({x}) + 1, int({x}))"


@pytest.mark.parametrize("value", ["2.5", "-2.5", "3", "-3", "0", "0.25", "-0.25", "-7.999",
                                   "1e3"])
def test_floor_and_ceiling_rewrites_agree(value):
    submission = f"<data><x>{value}</x></data>"
    x = "/data/x"
    for function, rewrite in (("floor", FLOOR_REWRITE), ("ceiling", CEILING_REWRITE)):
        expected = tovarn.eval_expression(f"{function}({x})", submission)
        assert tovarn.eval_expression(rewrite.format(x=x), submission) == expected, function


def test_suggested_rewrites_are_the_ones_tested():
    text = form(INSTANCE + bind(calculate="floor(1) + ceiling(1)"))
    floor, ceiling = (f["suggestion"] for f in tovarn.check_form(text))
    assert FLOOR_REWRITE.format(x="x") in floor
    assert ceiling.startswith(CEILING_REWRITE.format(x="x"))


def corpus_forms():
    folder = CORPUS / "forms"
    if not folder.is_dir():
        return []
    return sorted(p for p in folder.rglob("*.xml")
                  if ".submission." not in p.name and "media" not in p.parts)


def test_corpus_forms_check(corpus):
    forms = corpus_forms()
    if not forms:
        pytest.skip(f"no forms in {corpus}")
    for path in forms:
        try:
            findings = tovarn.check_form(str(path))
        except RuntimeError as e:
            # Forms that are not well-formed on purpose are refused by the reader.
            assert str(e).startswith("XForm XML: "), (path, str(e))
            continue
        for finding in findings:
            assert list(finding) == KEYS, path
