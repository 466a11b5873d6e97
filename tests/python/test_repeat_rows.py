"""Inside a repeat's row, an absolute path through that repeat reads the row:
in judging, in recompute, in the choices of a question of the row, and in
check_form's repeat comparison check."""

import pytest

import tovarn
from support import HEAD, TAIL, corpus  # noqa: F401  (a fixture)

# rep and hh are repeats by their templates, hh/m nested in hh.
INSTANCE = ('<data id="rows"><rep jr:template=""><n/><out/><start/><end/><state/><city/></rep>'
            '<hh jr:template=""><head/><pick/><m jr:template=""><name/><is_head/></m></hh>'
            '<after/></data>')
CITIES = ('<instance id="cities"><root>'
          '<item><name>ny</name><state>NY</state></item>'
          '<item><name>al</name><state>NY</state></item>'
          '<item><name>la</name><state>CA</state></item>'
          '</root></instance>')


def form(binds, body=""):
    return (f'{HEAD}<instance>{INSTANCE}</instance>{CITIES}{binds}</model></h:head>'
            f'<h:body><repeat nodeset="/data/rep"/><repeat nodeset="/data/hh"/>'
            f'<repeat nodeset="/data/hh/m"/>{body}</h:body></h:html>')


def bind(nodeset, **rules):
    return f'<bind nodeset="{nodeset}"' + "".join(f' {k}="{v}"' for k, v in rules.items()) + "/>"


def submission(reps="", hhs="", after=""):
    return f'<data id="rows">{reps}{hhs}<after>{after}</after></data>'


def rep(**children):
    return "<rep>" + "".join(f"<{k}>{v}</{k}>" for k, v in children.items()) + "</rep>"


def says(findings):
    return [(f["path"], f["kind"]) for f in findings]


def test_relevance_of_a_question_reads_its_own_row(corpus):
    path = corpus / "forms" / "enketo" / "relevant_constraint_required.xml"
    root = "relevant-constraint-required"
    sent = (f'<{root} id="{root}"><something>long enough text</something>'
            "<rep><val>diarrhea</val><skipq>123</skipq></rep>"
            "<rep><val>other text here</val><skipq/></rep>"
            f"<meta><instanceID>uuid:1</instanceID></meta></{root}>")
    # Row 1's val is too short and the instance id has no calculation here;
    # row 2's skipq is hidden, so nothing is required of it.
    assert says(tovarn.submission_findings(str(path), sent)) == [
        (f"/{root}/meta/instanceID", "not-evaluated"), (f"/{root}/rep[1]/val", "constraint")]
    relevant = tovarn.Session(str(path), sent).recompute()["relevant"]
    assert relevant[f"/{root}/rep[1]/skipq"] is True
    assert relevant[f"/{root}/rep[2]/skipq"] is False


def test_a_calculation_over_rows_writes_each_row_its_own():
    text = form(bind("/data/rep/out", calculate="/data/rep/n * 2"))
    reps = "".join(rep(n=n, out="") for n in (4, 7, 9))
    result = tovarn.Session(text, submission(reps)).recompute()
    assert result["calculated"] == {f"/data/rep[{k}]/out": v for k, v in ((1, "8"), (2, "14"), (3, "18"))}
    held = "".join(rep(n=n, out=out) for n, out in ((4, 2), (7, 14), (9, 18)))
    assert tovarn.submission_findings(text, submission(held)) == [{
        "path": "/data/rep[1]/out", "kind": "calculation",
        "says": '/data/rep[1]/out: holds "2", but the form calculates "8"'}]


# (calculation on /data/rep/out, the rows' n, what each row's out becomes)
ROW_CASES = [
    ("/data/rep/n * 2", [4], ["8"]),
    ("selected(/data/rep/n, '7')", [4, 7, 9], ["false", "true", "false"]),
    ("/data/rep/n = 7", [4, 7, 9], ["false", "true", "false"]),
    ("sum(/data/rep/n)", [4, 7, 9], ["4", "7", "9"]),
    ("count(/data/rep/n[. &gt; 5])", [4, 7, 9], ["0", "1", "1"]),
    ("concat(/data/rep/n, ../n)", [4, 7], ["44", "77"]),
    ("count(/data/hh[head = /data/rep/n])", [4, 7], ["1", "0"]),
    ("/data/rep[1]/n", [4, 7, 9], ["4", "4", "4"]),
    ("/data/rep[position() = 2]/n", [4, 7, 9], ["7", "7", "7"]),
    ("count(/data/rep)", [4, 7, 9], ["3", "3", "3"]),
    ("count(/data/hh/m)", [4, 7], ["3", "3"]),
]


@pytest.mark.parametrize("rule, ns, outs", ROW_CASES,
                         ids=["one-row", "selected", "equals", "sum-of-the-row", "predicate-below-the-row",
                              "beside-a-relative-path", "inside-a-predicate", "indexed-row",
                              "row-by-position", "counts-every-row", "other-repeat"])
def test_rules_inside_a_row(rule, ns, outs):
    text = form(bind("/data/rep/out", calculate=rule))
    hhs = "<hh><head>4</head><m/><m/></hh><hh><head>5</head><m/></hh>"
    session = tovarn.Session(text, submission("".join(rep(n=n, out="") for n in ns), hhs))
    session.recompute()
    assert [session.get(f"/data/rep[{k}]/out") for k in range(1, len(ns) + 1)] == outs


def test_a_constraint_checks_each_row_against_its_own_start():
    text = form(bind("/data/rep/end", constraint=". &gt; /data/rep/start"))
    reps = "".join(rep(start=s, end=e) for s, e in ((1, 5), (10, 6), (3, 4)))
    assert says(tovarn.submission_findings(text, submission(reps))) == [("/data/rep[2]/end", "constraint")]


def test_nested_rows_read_the_row_at_every_level():
    text = form(bind("/data/hh/m/is_head", calculate="if(/data/hh/m/name = /data/hh/head, '1', '0')"))
    member = "<m><name>{}</name><is_head/></m>".format
    hhs = (f"<hh><head>ann</head>{member('ann')}{member('bob')}</hh>"
           f"<hh><head>cy</head>{member('ann')}{member('cy')}</hh>")
    calculated = tovarn.Session(text, submission(hhs=hhs)).recompute()["calculated"]
    assert calculated == {"/data/hh[1]/m[1]/is_head": "1", "/data/hh[1]/m[2]/is_head": "0",
                          "/data/hh[2]/m[1]/is_head": "0", "/data/hh[2]/m[2]/is_head": "1"}


def test_outside_the_rows_every_row_is_read():
    text = form(bind("/data/after", calculate="sum(/data/rep/n)", constraint="/data/rep/n = 7"))
    reps = "".join(rep(n=n) for n in (4, 7, 9))
    session = tovarn.Session(text, submission(reps, after="5"))
    assert session.recompute()["calculated"] == {"/data/after": "20"}
    assert session.recompute()["invalid"] == []
    # eval_expression and the path operations of a Session start at the root.
    assert tovarn.eval_expression("/data/rep/n * 2", submission(reps)) == "8"
    assert session.get("/data/rep/n") == "4"


CHOICES = form(
    bind("/data/rep/city"),
    '<select1 ref="/data/rep/city"><itemset nodeset="instance(\'cities\')/root/item[state = /data/rep/state]">'
    '<value ref="name"/><label ref="name"/></itemset></select1>'
    '<select1 ref="/data/hh/pick"><itemset nodeset="/data/hh/m"><value ref="name"/>'
    '<label ref="name"/></itemset></select1>')


@pytest.mark.parametrize("path, values", [
    ("/data/rep[1]/city", ["ny", "al"]),
    ("/data/rep[2]/city", ["la"]),
    ("/data/rep/city", ["ny", "al"]),
    (" /data/rep[2]/city ", ["la"]),
    ("/data/rep[3]/city", None),
    ("/data/hh[2]/pick", ["cy"]),
    ("/data/hh/pick", ["ann", "bob"]),
    ("/data/rep[2]/n", None),
    ("/data/rep[2]/nosuch", None),
], ids=["first-row", "second-row", "without-position", "trimmed", "no-such-row", "list-of-the-row",
        "list-of-the-first-row", "no-list", "no-control"])
def test_choices_of_a_question_in_a_row_read_its_row(path, values):
    hhs = ("<hh><m><name>ann</name></m><m><name>bob</name></m></hh>"
           "<hh><m><name>cy</name></m></hh>")
    session = tovarn.Session(CHOICES, submission(rep(state="NY") + rep(state="CA"), hhs))
    listed = session.choices(path)
    assert (listed if listed is None else [c["value"] for c in listed]) == values


def test_choices_without_rows_read_the_list_as_written():
    session = tovarn.Session(CHOICES)
    assert session.choices("/data/rep/city") == []
    assert session.choices("/data/rep[1]/city") is None


def repeating(path):
    return f"comparing {path}, which repeats"


@pytest.mark.parametrize("nodeset, rule, reported", [
    ("/data/rep/out", "/data/rep/n = 'diarrhea'", []),
    ("/data/rep", "/data/rep/n = 'diarrhea'", []),
    ("/data/after", "/data/rep/n = 'diarrhea'", ["/data/rep/n"]),
    ("/data/rep/out", "/data/rep = 'a'", ["/data/rep"]),
    ("/data/represent", "/data/rep/n = 'a'", ["/data/rep/n"]),
    ("/data/hh/head", "/data/hh/m/name = /data/hh/head", ["/data/hh/m/name"]),
    ("/data/hh/m/is_head", "/data/hh/m/name = /data/hh/head", []),
], ids=["in-the-row", "on-the-row", "after-the-repeat", "the-repeat-itself", "name-sharing-a-prefix",
        "nested-row-below-the-bind", "nested-rows-holding-the-bind"])
def test_check_form_leaves_out_fields_of_the_binds_own_row(nodeset, rule, reported):
    findings = tovarn.check_form(form(bind(nodeset, relevant=rule)))
    assert [f["construct"] for f in findings if "repeats" in f["construct"]] == [repeating(p) for p in reported]


def test_check_form_reports_the_same_rule_only_outside_the_row():
    text = form(bind("/data/rep/out", relevant="/data/rep/n = 'diarrhea'")
                + bind("/data/after", relevant="/data/rep/n = 'diarrhea'"))
    assert [(f["path"], f["construct"]) for f in tovarn.check_form(text)] == [
        ("/data/after", repeating("/data/rep/n"))]
