"""Inputs built to break the module: each gives a correct result or a clear
error, never a crash or a hang. The big ones run in a child process, so a
crash fails one test and a hang meets the timeout."""

import os

import pytest

import tovarn
from support import in_child

DEPTH = 1_000_000
FORM = (
    '<h:html xmlns="http://www.w3.org/2002/xforms" xmlns:h="http://www.w3.org/1999/xhtml">'
    "<h:head><model>{model}</model></h:head><h:body/></h:html>"
)


def test_document_a_million_deep():
    # Reached by a path of a million steps, and judged and checked whole.
    assert in_child(f"""
        import tovarn
        n = {DEPTH}
        deep = "<a>" * (n - 1) + "<a k='v'>x</a>" + "</a>" * (n - 1)
        print(tovarn.eval_expression("/a" * n, deep))
        print(tovarn.eval_expression("count(//a[@k]/ancestor::a)", deep))
        form = '{FORM}'.format(model="<instance>" + deep + "</instance>"
                                     + '<bind nodeset="/a" calculate="/a/b"/>')
        print([f["path"] for f in tovarn.check_form(form)])
        print([f["says"] for f in tovarn.submission_findings(form, deep)])
        session = tovarn.Session(form, instance=deep)
        print(session.get("/a" * n + "/@k"), session.instance_xml() == "<?xml version='1.0' ?>" + deep.replace("'", '"'))
    """) == ["x", str(DEPTH - 1), "['/a']", """['/a: holds "x", but the form calculates ""']""",
             "v True"]


def test_following_and_preceding_of_every_node_a_million_deep():
    # A rule's axes over the instance held beside a secondary instance stay
    # linear in the nodes they list.
    assert in_child(f"""
        import tovarn
        n = {DEPTH}
        deep = "<a>" * (n - 1) + "<a k='v'>x</a>" + "</a>" * (n - 1)
        form = '{FORM}'.format(model="<instance>" + deep + "</instance>"
                                     + '<instance id="s"><r><a/></r></instance>'
                                     + '<bind nodeset="/a" calculate="count(//a/following::a | //a/preceding::a | //a/../..)"/>')
        print([f["says"] for f in tovarn.submission_findings(form, deep)])
    """) == [f"""['/a: holds "x", but the form calculates "{DEPTH - 2}"']"""]


def test_expression_of_a_million_terms():
    too_deep = "expression nests deeper than 1000 levels"
    assert in_child(f"""
        import tovarn
        n = {DEPTH}
        for rule in ["1" + "+1" * (n - 1), "/d/a" + " or /d/a" * (n - 1), "(" * n + "1" + ")" * n]:
            try:
                tovarn.eval_expression(rule, "<d><a>1</a></d>")
            except RuntimeError as e:
                print(e)
            form = '{FORM}'.format(model='<instance><d><a/></d></instance><bind nodeset="/d/a" calculate="' + rule + '"/>')
            print([f["construct"] for f in tovarn.check_form(form)])
            for judge in [lambda: tovarn.submission_findings(form, "<d><a>1</a></d>"),
                          lambda: tovarn.Session(form)]:
                try:
                    judge()
                except RuntimeError as e:
                    print(str(e).startswith("calculate of /d/a: {too_deep} \u2014 in expression"))
        print(tovarn.eval_expression("concat(" + "'a'," * (n - 1) + "'a')", "<d/>") == "a" * n)
        print(tovarn.eval_expression("/d" + "[1]" * (n - 1) + "/a", "<d><a>1</a></d>"))
    """) == [too_deep, "['a rule that does not parse']", "True", "True"] * 3 + ["True", "1"]


def test_text_node_of_fifty_megabytes():
    size = 50 * 1024 * 1024
    assert in_child(f"""
        import tovarn
        n = {size}
        big = "<d><t>" + "ab" * (n // 2) + "</t><u>" + "é" * (n // 2) + "</u></d>"
        for expression in ["string-length(/d/t)", "string-length(/d/u)",
                           "string-length(normalize-space(/d/t))",
                           "string-length(translate(/d/t, 'ab', 'ba'))",
                           "contains(/d/t, 'ba')", "ends-with(/d/u, 'éé')",
                           "string-length(substring(/d/u, 2, {size}))",
                           "string-length(substr(/d/t, -3))", "regex(/d/t, '^(ab)+$')",
                           "regex(/d/t, '(a|b)*c')", "count-selected(/d/t)",
                           "string-length(concat(/d/t, /d/t)) = 2 * string-length(/d/t)",
                           "/d/t = /d/t", "number(/d/t)"]:
            print(expression, tovarn.eval_expression(expression, big))
    """) == [
        f"string-length(/d/t) {size}",
        f"string-length(/d/u) {size // 2}",
        f"string-length(normalize-space(/d/t)) {size}",
        f"string-length(translate(/d/t, 'ab', 'ba')) {size}",
        "contains(/d/t, 'ba') true",
        "ends-with(/d/u, 'éé') true",
        f"string-length(substring(/d/u, 2, {size})) {size // 2 - 1}",
        "string-length(substr(/d/t, -3)) 3",
        "regex(/d/t, '^(ab)+$') true",
        "regex(/d/t, '(a|b)*c') false",
        "count-selected(/d/t) 1",
        "string-length(concat(/d/t, /d/t)) = 2 * string-length(/d/t) true",
        "/d/t = /d/t true",
        "number(/d/t) NaN",
    ]


@pytest.mark.parametrize(
    "pattern",
    ["(a+)+$", "(a|aa)+$", "(a|a?)+$", "(.*a){30}$", "^(a+)+b", "(x+x+)+y"],
    ids=["nested-plus", "overlapping-alternatives", "optional-alternative", "repeated-dot-star",
         "anchored", "doubled-plus"],
)
def test_regex_exponential_for_backtracking(pattern):
    # Linear-time matching answers at once where a backtracking engine would
    # take longer than the age of the universe.
    assert in_child(f"""
        import tovarn
        subject = "a" * 100000 + "!"
        print(tovarn.eval_expression("regex(/d, '{pattern}')", "<d>" + subject + "</d>"))
    """, timeout=60) == ["false"]


def source_calls(form, submission, instance):
    """Every source argument of the module, each with the others valid."""
    valid_form = FORM.format(model='<instance><d><a/></d></instance><bind nodeset="/d/a"/>')
    return [
        ("check_form", "form", lambda: tovarn.check_form(form)),
        ("eval_expression", "submission", lambda: tovarn.eval_expression("1", submission)),
        ("submission_findings", "form",
         lambda: tovarn.submission_findings(form, "<d><a/></d>")),
        ("submission_findings", "submission",
         lambda: tovarn.submission_findings(valid_form, submission)),
        ("Session", "form", lambda: tovarn.Session(form)),
        ("Session", "instance", lambda: tovarn.Session(valid_form, instance=instance)),
    ]


CALLS = [(call, argument) for call, argument, _ in source_calls("", "", "")]
CALL_IDS = [f"{call}-{argument}" for call, argument in CALLS]


def call_with(argument, value):
    return {(c, a): f for c, a, f in source_calls(value, value, value)}[argument]


@pytest.mark.parametrize("call, argument", CALLS, ids=CALL_IDS)
def test_lone_surrogate_in_source_text(call, argument):
    # A str with no UTF-8 form never reaches the engine.
    with pytest.raises(UnicodeEncodeError):
        call_with((call, argument), "<d><a>\udcff</a></d>")()


@pytest.mark.parametrize("call, argument", CALLS, ids=CALL_IDS)
def test_invalid_utf8_in_source_file(call, argument, tmp_path):
    path = tmp_path / "bad.xml"
    path.write_bytes(b"<d><a>\xc3\x28 \xed\xa0\x80 \xf8\x88\x80\x80\x80</a></d>")
    with pytest.raises(ValueError) as e:
        call_with((call, argument), str(path))()
    assert str(e.value) == f"{argument}: could not read '{path}': stream did not contain valid UTF-8"


@pytest.mark.parametrize("call, argument", CALLS, ids=CALL_IDS)
@pytest.mark.parametrize(
    "path, reason",
    [
        ("/", "Is a directory (os error 21)"),
        ("/dev/zero", "not a regular file"),
        ("/dev/urandom", "not a regular file"),
        ("/no/such/dir/form.xml", "No such file or directory (os error 2)"),
    ],
    ids=["directory", "endless-device", "random-device", "missing"],
)
def test_source_path_that_is_not_a_file(call, argument, path, reason):
    with pytest.raises(ValueError) as e:
        call_with((call, argument), path)()
    assert str(e.value) == f"{argument}: could not read '{path}': {reason}"


def test_rows_added_and_removed_many_times():
    # Removed rows are dropped from the instance's storage now and then; what
    # the session holds and answers must not notice.
    head = ('<h:html xmlns="http://www.w3.org/2002/xforms" xmlns:h="http://www.w3.org/1999/xhtml"'
            ' xmlns:jr="http://openrosa.org/javarosa"><h:head><model><instance><data>'
            '<r jr:template=""><x>t</x><y a="1"/></r><r><x>first</x></r><z k="v">end</z>'
            '</data></instance><bind nodeset="/data/z" calculate="count(/data/r)"/>'
            '</model></h:head><h:body/></h:html>')
    session = tovarn.Session(head)
    for cycle in range(1, 1001):
        assert session.add_row("/data/r") == 2
        session.set("/data/r[2]/x", f"row {cycle}")
        assert session.remove_row("/data/r", 1) == 1
        assert session.get("/data/r/x") == f"row {cycle}"
    assert session.recompute()["calculated"] == {"/data/z": "1"}
    assert session.instance_xml() == ("<?xml version='1.0' ?><data><r><x>row 1000</x><y a=\"1\"/>"
                                      '</r><z k="v">1</z></data>')


def test_rows_of_other_shapes_through_storage_compaction():
    # Rows unlike the template, removed and added at every position, with
    # answers written and read by position between: the session must answer
    # like a plain list of rows whatever it has dropped from storage.
    form = ('<h:html xmlns="http://www.w3.org/2002/xforms" xmlns:h="http://www.w3.org/1999/xhtml"'
            ' xmlns:jr="http://openrosa.org/javarosa"><h:head><model><instance><data>'
            '<r jr:template=""><x>t</x></r><r><x>a</x><y>1</y></r><r><x>b</x></r>'
            '</data></instance><bind nodeset="/data/r/x" type="string"/>'
            '</model></h:head><h:body/></h:html>')
    session = tovarn.Session(form)
    rows = [["a", "1"], ["b", None]]

    def expected_xml():
        parts = "".join(f"<r><x>{x}</x>" + (f"<y>{y}</y>" if y else "") + "</r>" for x, y in rows)
        return "<?xml version='1.0' ?>" + (f"<data>{parts}</data>" if parts else "<data/>")

    for step in range(400):
        if step % 3 == 0 or not rows:
            assert session.add_row("/data/r") == len(rows) + 1
            rows.append(["t", None])
        else:
            position = step % len(rows) + 1
            assert session.remove_row("/data/r", position) == len(rows) - 1
            del rows[position - 1]
        for i, row in enumerate(rows, 1):
            assert session.get(f"/data/r[{i}]/x") == row[0]
        if rows:
            i = step % len(rows) + 1
            session.set(f"/data/r[{i}]/x", f"s{step}")
            rows[i - 1][0] = f"s{step}"
        assert session.instance_xml() == expected_xml(), step


def test_answers_after_storage_compaction_to_the_same_size():
    # Storage is compacted twice to the same number of nodes, in another
    # shape, with no answer written in between: lookups by position must
    # follow the new shape.
    form = ('<h:html xmlns="http://www.w3.org/2002/xforms" xmlns:h="http://www.w3.org/1999/xhtml"'
            ' xmlns:jr="http://openrosa.org/javarosa"><h:head><model><instance><data>'
            '<r jr:template=""><x>t</x></r><r><x>p</x></r><r><x>a</x><y>1</y></r><r><x>q</x></r>'
            '</data></instance><bind nodeset="/data/r/x" type="string"/>'
            '</model></h:head><h:body/></h:html>')
    session = tovarn.Session(form)

    def churn(times):
        for _ in range(times):
            session.add_row("/data/r")
            session.remove_row("/data/r", 3)

    session.remove_row("/data/r", 3)
    churn(2)
    session.set("/data/r[1]/x", "p2")
    session.remove_row("/data/r", 1)
    session.add_row("/data/r")
    churn(3)
    assert [session.get(p) for p in ["/data/r[1]/x", "/data/r[1]/y", "/data/r[2]/x"]] == ["a", "1", "t"]
    assert session.instance_xml() == ("<?xml version='1.0' ?><data><r><x>a</x><y>1</y></r>"
                                      "<r><x>t</x></r></data>")


@pytest.mark.parametrize("n, closing, expected", [
    (100_000, '"1"', ["100001 1 1"]),
    (10_000, '"/d/g0/n0"', ["these calculations depend on each other, so none of them has a defined "
                            "value: /d/g0/n0 \u2192 /d/g0/n1 10001"]),
], ids=["chain", "cycle"])
def test_session_with_long_dependency_chains(n, closing, expected):
    # Fields in groups of 300, as forms group their questions: each step of a
    # path scans its siblings, so a flat /d of 100,000 would cost each rule as
    # much as the whole instance.
    assert in_child(f"""
        import tovarn
        n = {n}
        path = lambda i: f"/d/g{{i // 300}}/n{{i}}"
        binds = "".join(f'<bind nodeset="{{path(i)}}" calculate="{{path(i + 1)}}"/>' for i in range(n))
        groups = {{}}
        for i in range(n + 1):
            groups.setdefault(i // 300, []).append(f"<n{{i}}/>")
        fields = "".join(f"<g{{g}}>{{''.join(f)}}</g{{g}}>" for g, f in groups.items())
        form = (f"<h><model><instance><d>{{fields}}</d></instance>{{binds}}"
                f'<bind nodeset="{{path(n)}}" calculate={closing}/></model></h>')
        try:
            session = tovarn.Session(form)
        except RuntimeError as e:
            head, _, chain = str(e).partition(": ")
            print(head + ": " + " \u2192 ".join(chain.split(" \u2192 ")[:2]), chain.count("\u2192"))
        else:
            calculated = session.recompute()["calculated"]
            print(len(calculated), session.get(path(0)), session.get(path(n)))
    """) == expected


def test_template_whose_name_ends_in_a_bracket():
    # The reader takes "a]" as a name; cutting the index off its path must not
    # look for a '[' that is not there.
    form = ('<h:html xmlns="http://www.w3.org/2002/xforms" xmlns:h="http://www.w3.org/1999/xhtml"'
            ' xmlns:jr="http://openrosa.org/javarosa"><h:head><model><instance><data>'
            '<a] jr:template=""><x>t</x></a]><q/></data></instance>'
            '<bind nodeset="/data/q" type="string"/></model></h:head><h:body/></h:html>')
    session = tovarn.Session(form)
    assert session.add_row("/data/a]") == 1
    assert session.instance_xml() == "<?xml version='1.0' ?><data><a]><x>t</x></a]><q/></data>"
