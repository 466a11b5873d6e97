"""Judging a submission against the rules of a form: load messages, the order
of calculations, each pass of the judgement and each sentence."""

import pytest

import tovarn
from support import not_implemented, run_child, xform


def says(form, submission, **clock):
    return [f["says"] for f in tovarn.submission_findings(form, submission, **clock)]


NOT_IMPLEMENTED = not_implemented("uuid")
NOT_AN_XFORM = "the document is not an XForm: it has no <model> element"


@pytest.mark.parametrize("form, message", [
    ("<h:html>", "XForm XML: unclosed elements"),
    (xform(""), "the XForm declares no binds, so it carries no rules"),
    (xform('<bind nodeset=" " ref=""/>'), "a <bind> has no nodeset"),
    (xform('<bind nodeset="/data/q" calculate="f(1"/>'),
     'calculate of /data/q: expected RightParen, found None \u2014 in expression "f(1"'),
    (xform('<bind nodeset="/data/q" constraint=\' f("x" \'/>'),
     'constraint of /data/q: expected RightParen, found None \u2014 in expression " f(\\"x\\" "'),
    (xform('<bind nodeset="/data/q" readonly="f(" calculate="g("/>'),
     'calculate of /data/q: expected a node test, found None \u2014 in expression "g("'),
    (xform('<bind nodeset="/data/q" required="f(" readonly="g("/>'),
     'readonly of /data/q: expected a node test, found None \u2014 in expression "g("'),
    (xform('<bind nodeset="/data/a" calculate="f("/><bind nodeset="/data/q"/><bind/>'),
     'calculate of /data/a: expected a node test, found None \u2014 in expression "f("'),
    (xform('<bind nodeset="/data/a" calculate="../b"/><bind nodeset="/data/b" calculate="../a"/>',
           "<data><a/><b/></data>"),
     "these calculations depend on each other, so none of them has a defined value: "
     "/data/a \u2192 /data/b \u2192 /data/a"),
    (xform('<bind nodeset="/data/a" calculate="/data/b"/><bind nodeset="/data/b" calculate="/data/c"/>'
           '<bind nodeset="/data/c" calculate="/data/b"/>', "<data><a/><b/><c/></data>"),
     "these calculations depend on each other, so none of them has a defined value: "
     "/data/b \u2192 /data/c \u2192 /data/b"),
    ("<data><q>1</q></data>", NOT_AN_XFORM),
    ("<html><body><p>page</p></body></html>", NOT_AN_XFORM),
    ('<data><instance><q/></instance><bind nodeset="/data/q" calculate="("/></data>', NOT_AN_XFORM),
], ids=["xml", "no-binds", "no-nodeset", "rule", "rule-quoted-untrimmed", "calculate-before-readonly",
        "readonly-before-required", "first-broken-bind", "cycle", "cycle-names-only-its-binds",
        "submission-as-form", "page", "binds-without-model"])
def test_load_refusals(form, message):
    with pytest.raises(RuntimeError) as e:
        tovarn.submission_findings(form, "<data/>")
    assert str(e.value) == message


@pytest.mark.parametrize("binds, submission, expected", [
    ('<bind nodeset=" " ref="/data/q" required="true()"/>', "<data><q/></data>",
     ["/data/q: required, and unanswered"]),
    ('<bind nodeset="/data/q" required=" " jr:required="true()"/>', "<data><q/></data>", []),
    ('<bind nodeset="/data/q" readonly="true()"/>', "<data><q/></data>", []),
    ('<bind nodeset=" /data/q" required="true()"/>', "<data><q/></data>",
     ["/data/q: required, and unanswered"]),
    ('<bind nodeset="/data/[" required="true()"/>', "<data><q/></data>", []),
    ('<bind nodeset="1" required="true()"/>', "<data><q/></data>", []),
    ('<bind nodeset="/data/q" calculate=" 1 + 2 "/>', "<data><q>3</q></data>", []),
    ('<bind nodeset="/data/q" calculate=". + 1"/>', "<data><q>1</q></data>",
     ['/data/q: holds "1", but the form calculates "2"']),
], ids=["ref-when-nodeset-blank", "first-attribute-counts", "readonly-only", "untrimmed-nodeset-selects",
        "nodeset-does-not-parse", "nodeset-not-a-node-set", "rule-as-written", "reads-own-node"])
def test_binds_as_loaded(binds, submission, expected):
    assert says(xform(binds), submission) == expected


def test_calculations_run_in_dependency_order():
    form = xform('<bind nodeset="/data/c" calculate="../b * 2"/>'
                 '<bind nodeset="/data/b" calculate="../a + 1"/>'
                 '<bind nodeset="/data/a" calculate="3"/>'
                 '<bind nodeset="/data/d" calculate="4"/>', "<data><a/><b/><c/><d/></data>")
    assert [f["path"] for f in tovarn.submission_findings(form, "<data><a/><b/><c/><d/></data>")] == [
        "/data/a", "/data/b", "/data/c", "/data/d"]


def test_untrimmed_nodeset_is_a_dependency():
    # The nodeset selects /data/q, which x reads, so q's calculation comes first.
    form = xform('<bind nodeset="/data/x" calculate="/data/q"/><bind nodeset=" /data/q" calculate="1"/>',
                 "<data><x/><q/></data>")
    assert [f["path"] for f in tovarn.submission_findings(form, "<data><x/><q>0</q></data>")] == [
        "/data/q", "/data/x"]


def test_every_bind_on_a_read_nodeset_is_a_dependency():
    form = xform('<bind nodeset="/data/x" calculate="concat(\'v\', /data/a)"/>'
                 '<bind nodeset="/data/a" calculate="1"/>'
                 '<bind nodeset="/data/a" calculate="2"/>', "<data><x/><a/></data>")
    assert says(form, "<data><x/><a/></data>") == [
        '/data/a: holds "", but the form calculates "1"',
        '/data/a: holds "", but the form calculates "2"',
        '/data/x: holds "", but the form calculates "v"',
    ]


GROUP = "<data><g><q/><h><r/></h></g><s/></data>"


@pytest.mark.parametrize("binds, submission, expected", [
    ('<bind nodeset="/data/g" relevant="false()"/><bind nodeset="/data/g/h/r" required="true()"/>',
     "<data><g><q/><h><r/></h></g><s/></data>", []),
    ('<bind nodeset="/data/g" relevant="false()"/>'
     '<bind nodeset="/data/g/h/r" relevant="true()" calculate="1"/>',
     "<data><g><q/><h><r/></h></g><s/></data>", []),
    ('<bind nodeset="/data/g" relevant="false()"/><bind nodeset="/data/g/q" relevant="uuid()"/>',
     "<data><g><q/><h><r/></h></g><s/></data>", ["/data/g/q: rule could not be evaluated \u2014 " + NOT_IMPLEMENTED]),
    ('<bind nodeset="/data/g/h" required="true()"/><bind nodeset="/data/g/h/r" required="true()"/>',
     "<data><g><q/><h><r/></h></g><s/></data>",
     ["/data/g/h: required, and unanswered", "/data/g/h/r: required, and unanswered"]),
    ('<bind nodeset="/data/s" relevant="false()"/><bind nodeset="/data/s" relevant="true()" required="true()"/>',
     "<data><g/><s/></data>", ["/data/s: required, and unanswered"]),
    ('<bind nodeset="/data/s" relevant="true()"/><bind nodeset="/data/s" relevant="false()" required="true()"/>',
     "<data><g/><s/></data>", []),
    ('<bind nodeset="/data/s" relevant="uuid()" required="true()" calculate="1"/>', "<data><s/></data>",
     ["/data/s: rule could not be evaluated \u2014 " + NOT_IMPLEMENTED,
      '/data/s: holds "", but the form calculates "1"',
      "/data/s: required, and unanswered"]),
    ('<bind nodeset="/data/g/@id" relevant="true()" required="true()"/>'
     '<bind nodeset="/data/g" relevant="false()"/>', '<data><g id=""/></data>', []),
], ids=["ancestor-hides-grandchild", "own-true-under-false-ancestor", "failure-still-reported-when-hidden",
        "unbound-ancestor-never-hides", "later-bind-decides-true", "later-bind-decides-false",
        "failed-relevant-counts-as-relevant", "owner-hides-attribute"])
def test_relevance(binds, submission, expected):
    assert says(xform(binds, GROUP), submission) == expected


# q is required; r is required and relevant when q = 1; g/s is required. The
# same form with its instance root named model must judge the same.
WRONG_INPUT_BINDS = ('<bind nodeset="/{root}/q" required="true()"/>'
                     '<bind nodeset="/{root}/r" required="true()" relevant="/{root}/q = 1"/>'
                     '<bind nodeset="/{root}/g/s" required="true()"/>')
WRONG_INPUT_INSTANCE = '<{root} id="f" version="2"><q/><r/><g><s/></g></{root}>'


@pytest.mark.parametrize("root", ["data", "model"])
@pytest.mark.parametrize("submission, expected", [
    ('<other id="x"><q/></other>',
     RuntimeError("the submission's root element is <other>, and this form's instance is <{root}>")),
    ('<{root} id="other"><q>1</q></{root}>',
     RuntimeError("the submission is for form 'other', and this form is 'f'")),
    ('<{root} id="f"><q>1</q></{root}>',
     ["/{root}/r: required, and unanswered", "/{root}/g/s: required, and unanswered"]),
    ("<{root}/>", ["/{root}/q: required, and unanswered", "/{root}/g/s: required, and unanswered"]),
    ('<{root} id="f"><g/><q>1</q></{root}>',
     ["/{root}/r: required, and unanswered", "/{root}/g/s: required, and unanswered"]),
    ('<{root} id="f" version="2"><q>1</q><r>2</r><g><s>3</s></g></{root}>', []),
    ('<{root} id="f"><q>2</q><g><s>3</s></g></{root}>', []),
    ('<{root} id="f"><q>2</q><r/><g><s>3</s></g></{root}>', []),
    ('<{root} version="1"><q>1</q><r>2</r><g><s>3</s></g></{root}>', []),
    ('<{root} id=" " version="1"><q>1</q><r>2</r><g><s>3</s></g></{root}>', []),
    ('<{root} id="f"><q/><r/><g><s/></g></{root}>',
     ["/{root}/q: required, and unanswered", "/{root}/g/s: required, and unanswered"]),
], ids=["other-root", "other-id", "relevant-ones-missing", "empty-root", "group-lacks-its-child",
        "complete", "non-relevant-left-out", "non-relevant-left-empty", "no-id-older-version",
        "blank-id", "all-empty"])
def test_wrong_input_is_never_clean(root, submission, expected):
    form = xform(WRONG_INPUT_BINDS.format(root=root), WRONG_INPUT_INSTANCE.format(root=root))
    assert tovarn.check_form(form) == []
    submission = submission.format(root=root)
    if isinstance(expected, Exception):
        with pytest.raises(RuntimeError) as e:
            tovarn.submission_findings(form, submission)
        assert str(e.value) == str(expected).format(root=root)
    else:
        assert says(form, submission) == [e.format(root=root) for e in expected]


REPEAT = ('<data><q/><rep jr:template=""><a/><b/><sub jr:template=""><x/></sub></rep>'
          '<plain><a/></plain><total/></data>')
REPEAT_BINDS = ('<bind nodeset="/data/rep/b" required="true()"/>'
                '<bind nodeset="/data/rep/sub/x" required="true()"/>'
                '<bind nodeset="/data/plain/a" required="true()"/>'
                '<bind nodeset="/data/total" calculate="count(/data/rep)" relevant="/data/q != \'\'"/>')
REPEAT_BODY = '<h:body><repeat nodeset="/data/plain"/></h:body>'


@pytest.mark.parametrize("submission, expected", [
    ("<data><total>0</total></data>", []),
    ("<data><q>1</q></data>", ['/data/total: holds "", but the form calculates "0"']),
    ("<data><q>1</q><rep><a>1</a></rep><rep><b>2</b><sub/></rep></data>",
     ['/data/total: holds "", but the form calculates "2"', "/data/rep[1]/b: required, and unanswered",
      "/data/rep[2]/sub/x: required, and unanswered"]),
    ("<data><plain/></data>", ["/data/plain/a: required, and unanswered"]),
], ids=["rows-never-added", "relevant-calculation-against-empty", "rows-completed-from-template",
        "repeat-nodeset-without-template"])
def test_missing_elements_in_repeats(submission, expected):
    form = xform(REPEAT_BINDS, REPEAT).replace("<h:body/>", REPEAT_BODY)
    assert says(form, submission) == expected


@pytest.mark.parametrize("bind, answer, expected", [
    ('required="true()" constraint="uuid()"', "  ", ["/data/q: required, and unanswered"]),
    ('required="true()" constraint=". &gt; 5"', "3", ["/data/q: the answer does not satisfy the form's constraint"]),
    ('required="true()" constraint=". &gt; 5"', "7", []),
    ('required="uuid()" constraint=". &gt; 5"', "3",
     ["/data/q: rule could not be evaluated \u2014 " + NOT_IMPLEMENTED,
      "/data/q: the answer does not satisfy the form's constraint"]),
    ('required="uuid()" constraint=". &gt; 5"', "", ["/data/q: rule could not be evaluated \u2014 " + NOT_IMPLEMENTED]),
    ('required="\'false\'"', "", ["/data/q: required, and unanswered"]),
    ('required="false()" constraint="false()"', "", []),
    ('constraint="number(\'x\')"', "1", ["/data/q: the answer does not satisfy the form's constraint"]),
    ('constraint="/data/none"', "1", ["/data/q: the answer does not satisfy the form's constraint"]),
    ('constraint="\' \'"', "1", []),
    ('constraint="$x"', "1",
     ["/data/q: rule could not be evaluated \u2014 variable $x: XForms has no variables, "
      "so this expression cannot be what the form meant"]),
    ('constraint="false()" jr:constraintMsg="Too big"', "9", ["/data/q: Too big"]),
    ('required="true()" jr:requiredMsg="  Say it  "', "", ["/data/q:   Say it  "]),
    ('required="true()" jr:requiredMsg=" "', "", ["/data/q: required, and unanswered"]),
    ('constraint="false()" jr:constraintMsg=" jr:itext(\'big\')"', "9", ["/data/q: Far too big"]),
    ('constraint="false()" jr:constraintMsg="jr:itext(\'missing\')"', "9", ["/data/q: missing"]),
    ('constraint="false()" jr:constraintMsg="JR:ITEXT(\'big\')"', "9", ["/data/q: JR:ITEXT('big')"]),
    ('calculate="5"', "5.0", ['/data/q: holds "5.0", but the form calculates "5"']),
    ('calculate="5"', "5 ", ['/data/q: holds "5 ", but the form calculates "5"']),
    ('calculate="5"', "5", []),
    ('calculate="\'x\'"', 'a"b\\', ['/data/q: holds "a\\"b\\\\", but the form calculates "x"']),
    ('calculate="1 div 0"', "", ['/data/q: holds "", but the form calculates "Infinity"']),
], ids=["required-blank-skips-constraint", "constraint-broken", "constraint-holds",
        "required-fails-answered", "required-fails-unanswered", "required-text-false-is-true",
        "not-required-unanswered", "constraint-nan", "constraint-empty-node-set", "constraint-space-is-true",
        "constraint-variable", "constraint-message", "required-message-as-written", "blank-message-absent",
        "itext-message", "itext-message-unknown-id", "itext-prefix-case-sensitive", "held-not-normalised",
        "held-not-trimmed", "calculation-matches", "held-quoted", "computed-infinity"])
def test_rules_and_sentences(bind, answer, expected):
    itext = ('<itext><translation lang="en"><text id="big"><value>Far too big</value></text>'
             '</translation></itext>')
    form = xform(f'<bind nodeset="/data/q" {bind}/>', extra=itext)
    submission = "<data><q>" + answer.replace("&", "&amp;").replace("<", "&lt;") + "</q></data>"
    assert says(form, submission) == expected


def test_calculation_compares_string_value_of_group():
    form = xform('<bind nodeset="/data/g" calculate="\'1\'"/>', "<data><g/></data>")
    assert says(form, "<data><g><a>1</a><b>2</b></g></data>") == ['/data/g: holds "12", but the form calculates "1"']


def test_finding_dicts():
    form = xform('<bind nodeset="/data/name" required="true()"/><bind nodeset="/data/age" constraint=". &lt; 150"/>',
                 "<data><name/><age/></data>")
    assert tovarn.submission_findings(form, "<data><name/><age>200</age></data>") == [
        {"path": "/data/name", "kind": "required", "says": "/data/name: required, and unanswered"},
        {"path": "/data/age", "kind": "constraint",
         "says": "/data/age: the answer does not satisfy the form's constraint"},
    ]
    calc = xform('<bind nodeset="/data/q" calculate="2"/><bind nodeset="/data/q" constraint="uuid()"/>')
    assert [f["kind"] for f in tovarn.submission_findings(calc, "<data><q>1</q></data>")] == [
        "calculation", "not-evaluated"]


def test_repeated_nodes_get_positions():
    form = xform('<bind nodeset="/data/r/q" required="true()"/>', "<data><r><q/></r></data>")
    assert [f["path"] for f in tovarn.submission_findings(
        form, "<data><r><q>1</q></r><r><q/></r><r><q/><q/></r></data>")] == [
        "/data/r[2]/q", "/data/r[3]/q[1]", "/data/r[3]/q[2]"]


CITIES = ('<instance id="zz"><root><item>x</item></root></instance>'
          '<instance id="cities"><root><item>a</item><item>b</item></root></instance>')


@pytest.mark.parametrize("binds, expected", [
    ('<bind nodeset="/data/q" constraint="count(instance(\'cities\')/root/item) = 3"/>',
     ["/data/q: the answer does not satisfy the form's constraint"]),
    ('<bind nodeset="/data/q" constraint="instance(\'cities\')/root/item[2] = \'b\'"/>', []),
    ('<bind nodeset="instance(\'cities\')/root/item" constraint="false()"/>',
     ["/instance[1]/root/item[1]: the answer does not satisfy the form's constraint",
      "/instance[1]/root/item[2]: the answer does not satisfy the form's constraint"]),
    ('<bind nodeset="instance(\'zz\')/root/item" calculate="\'y\'"/>',
     ['/instance[2]/root/item: holds "x", but the form calculates "y"']),
    ('<bind nodeset="/data/q" constraint="instance(\'nope\')/root"/>',
     None),
], ids=["reachable", "contents", "paths-in-id-order", "second-instance", "undeclared"])
def test_secondary_instances_in_model_document(binds, expected):
    form = xform(binds, extra=CITIES)
    found = says(form, "<data><q>1</q></data>")
    if expected is None:
        assert len(found) == 1 and found[0].startswith("/data/q: rule could not be evaluated \u2014 ")
    else:
        assert found == expected


# pulldata() reads a secondary instance through the form's own copy of it,
# which a one-request load makes only when first asked for.
PRICES = ('<instance id="prices"><root><item><name>a</name><cost>3</cost></item>'
          '<item><name>b</name><cost>5</cost></item></root></instance>'
          '<instance id="prices"><root><item><name>a</name><cost>7</cost></item></root></instance>')


@pytest.mark.parametrize("constraint, expected", [
    ("pulldata('prices', 'cost', 'name', 'a') = 7", []),
    ("pulldata('prices', 'cost', 'name', 'a') = 3", ["/data/q: the answer does not satisfy the form's constraint"]),
    ("pulldata('prices', 'cost', 'name', 'b') = ''", []),
    ("pulldata('prices', 'cost', 'name', 'a') + pulldata('prices', 'cost', 'name', 'a') = 14", []),
], ids=["later-namesake", "earlier-hidden", "absent-row", "asked-twice"])
def test_pulldata_reads_secondary_instance(constraint, expected):
    form = xform(f'<bind nodeset="/data/q" constraint="{constraint}"/>', extra=PRICES)
    assert says(form, "<data><q>1</q></data>") == expected


# The primary instance beside two secondary ones holding namesakes of its
# nodes. Rules read the primary instance as a document of its own: no axis
# reaches the secondary instances or the model around them, which instance()
# still finds.
SIDE_BY_SIDE = ('<instance id="list"><root><item><name>x</name></item><item><name>y</name></item>'
                '<q>s</q></root></instance><instance id="more"><root><item>z</item></root></instance>')
PRIMARY = "<data><k/><q>p</q><g><item>1</item><item>2</item></g></data>"


@pytest.mark.parametrize("calculate, computed", [
    ("count(//item)", "2"),
    ("count(//q)", "1"),
    ("//item = 'x' or //name = 'y'", "false"),
    ("count(descendant::name | /descendant::name)", "0"),
    ("count(../../*)", "0"),
    ("count(ancestor::*)", "1"),
    ("name(/)", "data"),
    ("count(/*)", "3"),
    ("count(/model | /instance | /data/instance)", "0"),
    ("count(/data/following-sibling::* | /data/following::*)", "0"),
    ("/data/following-sibling::* = 'xys'", "false"),
    ("count(/data/g/item[2]/following::*)", "0"),
    ("count(instance('list')/root/item)", "2"),
    ("count(instance('list')/.. | instance('list')/following-sibling::*)", "0"),
    ("count(instance('more')/root/preceding::*)", "0"),
    ("count(instance('list')/root/item/following::*)", "3"),
    ("count(instance('list')/root/item[count(//item) = 2])", "2"),
    ("instance('list')/root/q = /data/q", "false"),
], ids=["descendants", "descendants-by-name", "walked-descendants", "descendant-axis",
        "parent-above-root", "ancestors", "slash", "root-children", "no-model-root",
        "root-has-no-siblings", "walked-siblings", "following-stops-at-instance-end",
        "instance-finds-secondary", "secondary-has-no-parent", "preceding-stays-in-secondary",
        "following-stays-in-secondary", "absolute-path-in-secondary-predicate",
        "secondary-compared-with-primary"])
def test_rules_read_the_primary_instance_alone(calculate, computed):
    form = xform(f'<bind nodeset="/data/k" calculate="{calculate}"/>', PRIMARY, extra=SIDE_BY_SIDE)
    assert says(form, PRIMARY) == [f'/data/k: holds "", but the form calculates "{computed}"']


@pytest.mark.parametrize("nodeset, paths", [
    ("/data/q", ["/data/q"]),
    ("/q", ["/data/q"]),
    ("//q", ["/data/q"]),
    ("/data/g/item", ["/data/g/item[1]", "/data/g/item[2]"]),
    ("//item[. != '']", ["/data/g/item[1]", "/data/g/item[2]"]),
    ("/instance/root/item", []),
    ("/model/data/q", []),
    ("instance('list')/root/q", ["/instance[1]/root/q"]),
    ("instance('more')/root/item", ["/instance[2]/root/item"]),
], ids=["plain", "below-root", "descendants", "rows", "descendants-with-predicate",
        "secondary-by-path", "model-root-by-path", "secondary-by-instance", "second-secondary"])
def test_bind_nodesets_select_in_the_primary_instance_alone(nodeset, paths):
    form = xform(f'<bind nodeset="{nodeset}" constraint="false()"/>', PRIMARY, extra=SIDE_BY_SIDE)
    assert says(form, PRIMARY) == [f"{p}: the answer does not satisfy the form's constraint" for p in paths]


TEXT_REFUSED = "rule could not be evaluated \u2014 " + not_implemented("text")


@pytest.mark.parametrize("constraint, expected", [
    ("string-length(text()) > 0", [f"/data/q: {TEXT_REFUSED}"]),
    ("../q/text() = 'a'", [f"/data/q: {TEXT_REFUSED}"]),
    ("count(../comment() | ../processing-instruction()) = 0", []),
    ("not(self::text())", []),
    ("string-length(.) > 0", []),
], ids=["text-refused", "text-in-comparison", "comment-and-pi-select-nothing",
        "no-text-on-self", "string-value-instead"])
def test_node_type_tests_in_rules(constraint, expected):
    form = xform(f'<bind nodeset="/data/q" constraint="{constraint}"/>')
    assert says(form, "<data><q>a</q></data>") == expected


def test_lone_secondary_instance_path_has_no_position():
    form = xform('<bind nodeset="instance(\'c\')/root/item" constraint="false()"/>',
                 extra='<instance id="c"><root><item>a</item></root></instance>')
    assert says(form, "<data/>") == ["/instance/root/item: the answer does not satisfy the form's constraint"]


TEXTS = '<text id="m"><value>{}</value></text>'


@pytest.mark.parametrize("translations, expected", [
    ([("lang='fr'", "trop grand"), ("lang='en'", "too big")], "trop grand"),
    ([("lang='fr'", "trop grand"), ("default='true()' lang='en'", "too big")], "too big"),
    ([("lang='fr'", "trop grand"), ("lang='en' default='true'", "too big")], "too big"),
    ([("lang='fr' default='false()'", "trop grand"), ("lang='en'", "too big")], "trop grand"),
    ([("lang='fr'", "trop grand"), ("lang='en' default='true()'", "too big"),
      ("lang='de' default='true()'", "zu gro\u00df")], "too big"),
    ([("lang='fr'", "-"), ("lang='en' default='true()'", "too big")], "too big"),
], ids=["none-marked", "marked-true()", "marked-true", "marked-false", "first-marked", "placeholder-first"])
def test_messages_in_the_default_language(translations, expected):
    itext = "<itext>" + "".join(f"<translation {attributes}>{TEXTS.format(text)}</translation>"
                                for attributes, text in translations) + "</itext>"
    form = xform('<bind nodeset="/data/q" constraint="false()" jr:constraintMsg="jr:itext(\'m\')"/>',
                 extra=itext)
    assert says(form, "<data><q>1</q></data>") == [f"/data/q: {expected}"]


def test_only_first_translation_is_read():
    itext = ('<itext><translation lang="fr"><text id="m"><value>un</value></text>'
             '<text id="m"><value form="image">jr://x.png</value></text>'
             '<text id="g"><value>v<b>w</b></value></text><text id="n"/></translation>'
             '<translation lang="en"><text id="m"><value>one</value></text>'
             '<text id="n"><value>none</value></text></translation></itext>')
    binds = ''.join(f'<bind nodeset="/data/{q}" constraint="false()" jr:constraintMsg="jr:itext(\'{q}\')"/>'
                    for q in "mgn")
    form = xform(binds, "<data><m/><g/><n/></data>", itext)
    assert says(form, "<data><m>1</m><g>1</g><n>1</n></data>") == [
        "/data/m: jr://x.png", "/data/g: vw", "/data/n: n"]


@pytest.mark.parametrize("clock, submission, expected", [
    ({"today": "2024-01-01"}, "<data><q>2024-01-01</q></data>", []),
    ({}, "<data><q>2024-01-01</q></data>", ["/data/q: the answer does not satisfy the form's constraint"]),
    ({}, "<data><q>2024-01-01</q><end>2024-01-01T10:00:00Z</end></data>", []),
    ({}, "<data><q>2024-01-01</q><end>\n  2024-01-01T10:00:00Z\n</end></data>", []),
    ({}, "<data><q>2024-01-01</q><start> 2024-01-01T09:00:00Z</start></data>", []),
], ids=["argument", "default", "from-end", "from-indented-end", "from-start"])
def test_clock(clock, submission, expected):
    form = xform('<bind nodeset="/data/q" constraint=". = today()"/>')
    assert says(form, submission, **clock) == expected


# Without a date from the caller or the submission, the machine's own date
# judges: a birth date in the past is valid and an age comes out positive.
@pytest.mark.parametrize("dob, expected", [
    ("2000-01-01", []),
    ("1970-01-02", []),
    ("9999-01-01", ["/data/dob: not in the past", "/data/age: negative age"]),
], ids=["past", "just-after-1970", "future"])
def test_dates_judged_by_the_local_date(dob, expected):
    form = xform('<bind nodeset="/data/dob" constraint=". &lt;= today()" jr:constraintMsg="not in the past"/>'
                 '<bind nodeset="/data/age" constraint="int((today() - ../dob) div 365.25) &gt;= 0"'
                 ' jr:constraintMsg="negative age"/>',
                 "<data><dob/><age/></data>")
    assert says(form, f"<data><dob>{dob}</dob><age>answered</age></data>") == expected


def test_submission_that_does_not_parse():
    with pytest.raises(RuntimeError) as e:
        tovarn.submission_findings(xform('<bind nodeset="/data/q"/>'), "<data>")
    assert str(e.value) == "unclosed elements"


def test_sources_resolved_before_either_is_read():
    with pytest.raises(ValueError) as e:
        tovarn.submission_findings("<h:html>", "/nonexistent/s.xml")
    assert str(e.value) == "submission: could not read '/nonexistent/s.xml': No such file or directory (os error 2)"


@pytest.mark.parametrize("n, closing, expected", [
    (100000, '"1"', "0"),
    (10000, '"/d/n0"', "these calculations depend on each other, so none of them has a defined value: "
                       "/d/n0 \u2192 /d/n1 \u2192 ... \u2192 /d/n9999 \u2192 /d/n10000 \u2192 /d/n0"),
], ids=["chain", "cycle"])
def test_long_dependency_chains(n, closing, expected):
    code = (
        "import tovarn\n"
        f"n = {n}\n"
        "binds = ''.join(f'<bind nodeset=\"/d/n{i}\" calculate=\"/d/n{i + 1}\"/>' for i in range(n))\n"
        f"form = f'<h><model><instance><d/></instance>{{binds}}<bind nodeset=\"/d/n{{n}}\" calculate={closing}/></model></h>'\n"
        "try:\n"
        "    print(len(tovarn.submission_findings(form, '<d/>')))\n"
        "except RuntimeError as e:\n"
        "    m = str(e)\n"
        "    head, _, chain = m.partition(': ')\n"
        "    parts = chain.split(' \u2192 ')\n"
        "    print(head + ': ' + ' \u2192 '.join(parts[:2] + ['...'] + parts[-3:]) if len(parts) > 5 else m)\n"
    )
    out = run_child(code)
    assert out.returncode == 0, out.stderr
    assert out.stdout == expected + "\n"


@pytest.mark.parametrize("relevant, expected", [("true()", "2 200000 /a/a/a"), ("false()", "0 0 -")],
                         ids=["deep-finding", "deep-hidden"])
def test_deep_submission(relevant, expected):
    code = (
        "import tovarn\n"
        "n = 100000\n"
        f"form = '<h><model><instance><a/></instance><bind nodeset=\"/a\" relevant=\"{relevant}\"/>"
        "<bind nodeset=\"//a[not(a)]\" required=\"true()\" calculate=\"1\"/></model></h>'\n"
        "found = tovarn.submission_findings(form, '<a>' * n + '</a>' * n)\n"
        "paths = {f['path'] for f in found}\n"
        "print(len(found), sum(map(len, paths)), paths.pop()[:6] if paths else '-')\n"
    )
    out = run_child(code)
    assert out.returncode == 0, out.stderr[-2000:]
    assert out.stdout.split() == expected.split()


SELF_NAMING = "jr:choice-name(name, '/data/q')"


@pytest.mark.parametrize("controls, expected", [
    ('<select1 ref="/data/q"><item><label ref="jr:choice-name(\'a\', \'/data/q\')"/><value>a</value></item>'
     '</select1>',
     '/data/q: holds "1", but the form calculates ""'),
    (f'<select1 ref="/data/q"><itemset nodeset="instance(\'c\')/root/item"><value ref="name"/>'
     f'<label ref="{SELF_NAMING}"/></itemset></select1>',
     '/data/q: holds "1", but the form calculates ""'),
    (f'<select1 ref="/data/q"><itemset nodeset="instance(\'c\')/root/item[{SELF_NAMING} != \'\']">'
     '<value ref="name"/></itemset></select1>',
     '/data/q: rule could not be evaluated \u2014 jr:choice-name(): no choice "a" for /data/q \u2014 '
     'the evaluator was given no choice list for that question'),
    ('<select1 ref="/data/q"><item><label ref="jr:choice-name(\'b\', \'/data/r\')"/><value>a</value></item>'
     '</select1><select1 ref="/data/r"><item><label>Bee</label><value>b</value></item></select1>',
     '/data/q: holds "1", but the form calculates "Bee"'),
], ids=["item-label", "itemset-label", "itemset-nodeset", "label-of-another-control"])
def test_choice_labels_that_ask_for_choice_labels(controls, expected):
    form = xform('<bind nodeset="/data/q" calculate="jr:choice-name(\'a\', \'/data/q\')"/>',
                 extra='<instance id="c"><root><item><name>a</name></item></root></instance>')
    form = form.replace("<h:body/>", f"<h:body>{controls}</h:body>")
    code = ("import sys, tovarn\n"
            "print(*(f['says'] for f in tovarn.submission_findings(sys.argv[1], '<data><q>1</q></data>')), sep='\\n')\n")
    out = run_child(code, form, timeout=60)
    assert out.returncode == 0, out.stderr[-2000:]
    assert out.stdout == expected + "\n"
