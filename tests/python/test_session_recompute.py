"""Session.recompute: calculations in order written back into the instance,
relevance, judging of the updated instance and row counts, with the
dictionary it returns."""

import pytest

import tovarn
from support import LOCAL_DATE, local_clock_texts, not_implemented, xform, xml

KEYS = ["calculated", "relevant", "missing", "invalid", "failed", "repeats"]
UUID = not_implemented("uuid")
NOT_EVALUATED = "rule could not be evaluated \u2014 "


def session(binds, instance="<data><q/></data>", extra="", saved=None):
    return tovarn.Session(xform(binds, instance, extra), instance=saved)


def test_keys_in_order_when_all_is_empty():
    result = session('<bind nodeset="/data/q" type="string"/>').recompute()
    assert list(result) == KEYS
    assert result == {"calculated": {}, "relevant": {"/data/q": True}, "missing": [], "invalid": [],
                      "failed": [], "repeats": {}}


def test_types_of_the_entries():
    s = session('<bind nodeset="/data/a" calculate="1" relevant="true()"/>'
                '<bind nodeset="/data/q" constraint="false()" required="true()"/>',
                '<data><a/><q>x</q><r jr:template=""/><r/></data>')
    result = s.recompute()
    assert result["calculated"] == {"/data/a": "1"}
    assert result["relevant"] == {"/data/a": True, "/data/q": True}
    assert result["invalid"] == [("/data/q", "this answer is not allowed")]
    assert type(result["invalid"][0]) is tuple
    assert result["repeats"] == {"/data/r": 1}
    assert type(result["repeats"]["/data/r"]) is int


def test_calculated_and_relevance_paths_interleaved_over_rows():
    # Eleven rows put /data/r[10] before /data/r[2] in byte order; paths only
    # bound sit before, between and after calculated ones; values repeat.
    rows = "".join(f"<r><x/><y>{k}</y></r>" for k in range(11))
    s = session('<bind nodeset="/data/a" type="string"/>'
                '<bind nodeset="/data/b" calculate="1"/>'
                '<bind nodeset="/data/r/x" calculate="../y mod 2"/>'
                '<bind nodeset="/data/r/y" relevant="true()"/>'
                '<bind nodeset="/data/z" calculate="1" relevant="false()"/>',
                f"<data><a/><b/>{rows}<z/></data>")
    result = s.recompute()
    calculated = {"/data/b": "1", "/data/z": "1"}
    calculated |= {f"/data/r[{k + 1}]/x": str(k % 2) for k in range(11)}
    relevant = {"/data/a": True, "/data/b": True, "/data/z": False}
    relevant |= {f"/data/r[{k + 1}]/{n}": True for k in range(11) for n in "xy"}
    assert list(result["calculated"].items()) == sorted(calculated.items())
    assert list(result["relevant"].items()) == sorted(relevant.items())


# --- calculations and write-back ------------------------------------------------


def test_chained_calculations_see_new_values_and_write_only_changes():
    s = session('<bind nodeset="/data/c" calculate="/data/b * 10"/>'
                '<bind nodeset="/data/b" calculate="/data/a + 1"/>',
                "<data><a>1</a><b/><c/></data>")
    assert s.recompute()["calculated"] == {"/data/b": "2", "/data/c": "20"}
    assert xml(s) == "<data><a>1</a><b>2</b><c>20</c></data>"
    assert s.recompute()["calculated"] == {}
    s.set("/data/a", "4")
    assert s.recompute()["calculated"] == {"/data/b": "5", "/data/c": "50"}


def test_calculation_on_a_node_that_is_not_relevant_is_written():
    s = session('<bind nodeset="/data/q" calculate="\'x\'" relevant="false()"/>')
    result = s.recompute()
    assert result["calculated"] == {"/data/q": "x"}
    assert result["relevant"] == {"/data/q": False}
    assert s.get("/data/q") == "x"


def test_failed_calculation_of_a_node_that_is_not_relevant_is_reported_once():
    s = session('<bind nodeset="/data/q" calculate="uuid()" relevant="false()"/>')
    assert s.recompute()["failed"] == [("/data/q", UUID)]


def test_failed_calculation_leaves_the_node_and_the_others_run():
    s = session('<bind nodeset="/data/a" calculate="uuid()"/><bind nodeset="/data/b" calculate="2"/>',
                "<data><a>kept</a><b/></data>")
    result = s.recompute()
    assert result["calculated"] == {"/data/b": "2"}
    assert result["failed"] == [("/data/a", UUID), ("/data/a", UUID)]
    assert xml(s) == "<data><a>kept</a><b>2</b></data>"


def test_calculation_bound_to_a_group_is_written_every_time():
    s = session('<bind nodeset="/data/g" calculate="\'v\'"/>', "<data><g><x>1</x></g></data>")
    for _ in range(2):
        assert s.recompute()["calculated"] == {"/data/g": "v"}
    assert s.get("/data/g") == "v1"


def test_calculations_in_repeat_rows_go_to_their_own_row():
    s = session('<bind nodeset="/data/r/d" calculate="../v * 2"/>',
                '<data><r jr:template=""><v/><d/></r><r><v>1</v><d/></r><r><v>2</v><d/></r></data>')
    assert s.recompute()["calculated"] == {"/data/r[1]/d": "2", "/data/r[2]/d": "4"}
    assert xml(s) == "<data><r><v>1</v><d>2</d></r><r><v>2</v><d>4</d></r></data>"


def test_calculation_bound_to_an_attribute_is_written_as_the_attribute():
    s = session('<bind nodeset="/data/q/@code" calculate="concat(\'c\', ../../n)"/>',
                '<data><n>7</n><q code=""/></data>')
    assert s.recompute()["calculated"] == {"/data/q/code": "c7"}
    assert xml(s) == '<data><n>7</n><q code="c7"/></data>'
    assert s.recompute()["calculated"] == {}


def test_calculation_bound_to_a_secondary_instance_writes_nothing():
    # Its node lies outside the instance: nothing is created under the root,
    # and nothing is reported as calculated.
    s = session('<bind nodeset="instance(\'t\')/root/item/v" calculate="\'changed\'"/>'
                '<bind nodeset="/data/q" calculate="instance(\'t\')/root/item/v"/>',
                extra='<instance id="t"><root><item><v>orig</v></item></root></instance>')
    result = s.recompute()
    assert result["calculated"] == {"/data/q": "changed"}
    assert xml(s) == "<data><q>changed</q></data>"
    # Every recompute starts again from the form's own secondary instance.
    s.set("/data/q", "")
    assert s.recompute()["calculated"] == {"/data/q": "changed"}


@pytest.mark.parametrize("nodeset", ["/data/k", "/k", "//k"], ids=["plain", "below-root", "descendants"])
def test_calculations_read_and_write_the_primary_instance_alone(nodeset):
    # The choice list's items and its q stand beside the instance, out of the
    # reach of // and .. there.
    s = session(f'<bind nodeset="{nodeset}" calculate="concat(count(//item), count(//q), count(../../*))"/>',
                "<data><k/><q/><item/></data>",
                extra='<instance id="c"><root><item/><item/><q/></root></instance>')
    assert s.recompute()["calculated"] == {"/data/k": "110"}
    assert xml(s) == "<data><k>110</k><q/><item/></data>"


def test_calculation_order_across_a_recompute_and_today():
    def texts():
        s = session('<bind nodeset="/data/q" calculate="today()"/>')
        return list(s.recompute()["calculated"].values())
    assert local_clock_texts(texts) == (LOCAL_DATE,)


# --- relevance, missing, invalid ------------------------------------------------


@pytest.mark.parametrize("binds, instance, key, expected", [
    ('<bind nodeset="/data/q" constraint=". &gt; 3" jr:constraintMsg="too small"/>',
     "<data><q>1</q></data>", "invalid", [("/data/q", "too small")]),
    ('<bind nodeset="/data/q" constraint=". &gt; 3"/>', "<data><q>1</q></data>", "invalid",
     [("/data/q", "this answer is not allowed")]),
    ('<bind nodeset="/data/q" constraint=". &gt; 3" jr:constraintMsg="jr:itext(\'m\')"/>',
     "<data><q>1</q></data>", "invalid", [("/data/q", "from itext")]),
    ('<bind nodeset="/data/q" constraint=". &gt; 3" required="true()"/>', "<data><q>1</q></data>",
     "missing", []),
    ('<bind nodeset="/data/q" required="true()" jr:requiredMsg="say"/>', "<data><q> </q></data>",
     "missing", ["/data/q"]),
    ('<bind nodeset="/data/q" required="true()" relevant="false()"/>', "<data><q/></data>",
     "missing", []),
    ('<bind nodeset="/data/g" relevant="false()"/><bind nodeset="/data/g/q" required="true()"/>',
     "<data><g><q/></g></data>", "relevant", {"/data/g": False, "/data/g/q": False}),
    ('<bind nodeset="/data/r/q" relevant="../on = 1"/>',
     "<data><r><on>1</on><q/></r><r><on/><q/></r></data>", "relevant",
     {"/data/r[1]/q": True, "/data/r[2]/q": False}),
], ids=["constraint-message", "constraint-default", "constraint-itext", "invalid-not-missing",
        "blank-is-missing", "not-relevant-not-missing", "hidden-by-ancestor", "per-row"])
def test_judging(binds, instance, key, expected):
    itext = '<itext><translation><text id="m"><value>from itext</value></text></translation></itext>'
    result = session(binds, instance, extra=itext).recompute()
    assert result[key] == expected


def test_relevant_failure_on_a_relevant_node_is_reported_twice():
    result = session('<bind nodeset="/data/q" relevant="uuid()"/>').recompute()
    assert result["failed"] == [("/data/q", "/data/q: " + NOT_EVALUATED + UUID), ("/data/q", UUID)]
    assert result["relevant"] == {"/data/q": True}


def test_relevant_failure_under_a_node_that_is_not_relevant_is_reported_once():
    result = session('<bind nodeset="/data/g" relevant="false()"/>'
                     '<bind nodeset="/data/g/q" relevant="uuid()"/>',
                     "<data><g><q/></g></data>").recompute()
    assert result["failed"] == [("/data/g/q", "/data/g/q: " + NOT_EVALUATED + UUID)]


def test_failed_entries_in_their_order():
    s = session('<bind nodeset="/data/a" required="uuid()"/>'
                '<bind nodeset="/data/b" relevant="uuid()"/>'
                '<bind nodeset="/data/c" calculate="uuid()"/>',
                "<data><a/><b/><c/></data>")
    assert s.recompute()["failed"] == [
        ("/data/c", UUID),                                  # the calculation, by its nodeset
        ("/data/b", "/data/b: " + NOT_EVALUATED + UUID),    # the relevance sentence
        ("/data/b", UUID),                                  # the judge: relevance,
        ("/data/c", UUID),                                  # calculations,
        ("/data/a", UUID),                                  # then requiredness
    ]


def test_calculation_failure_names_the_bind_nodeset_as_written():
    s = session('<bind nodeset=" /data/r/q " calculate="uuid()"/>',
                "<data><r><q/></r><r><q/></r></data>")
    failed = s.recompute()["failed"]
    assert failed[:2] == [(" /data/r/q ", UUID), (" /data/r/q ", UUID)]
    assert failed[2:] == [("/data/r[1]/q", UUID), ("/data/r[2]/q", UUID)]


COMPLETED_BINDS = ('<bind nodeset="/{root}/q" required="true()"/>'
                   '<bind nodeset="/{root}/r" required="true()" relevant="/{root}/q = 1"/>'
                   '<bind nodeset="/{root}/g/s" required="true()"/>'
                   '<bind nodeset="/{root}/t" calculate="concat(\'v\', /{root}/r)"/>')


@pytest.mark.parametrize("root", ["data", "model"])
def test_saved_instance_is_judged_as_completed_and_kept_as_it_is(root):
    saved = f'<{root} id="f"><q>1</q></{root}>'
    s = tovarn.Session(xform(COMPLETED_BINDS.format(root=root),
                             f'<{root} id="f"><q/><r/><g><s/></g><t/></{root}>'), instance=saved)
    result = s.recompute()
    assert result["missing"] == [f"/{root}/r", f"/{root}/g/s"]
    assert result["relevant"] == {f"/{root}/{p}": True for p in ("q", "r", "g/s", "t")}
    # t is calculated where the completion added it, but the instance lacks it.
    assert result["calculated"] == {}
    assert xml(s) == saved
    s.set(f"/{root}/r", "2")
    assert s.recompute()["missing"] == [f"/{root}/g/s"]
    assert xml(s) == f'<{root} id="f"><q>1</q><r>2</r></{root}>'


# --- repeats ------------------------------------------------------------------


def test_repeats_sorted_by_bytes_and_counted_after_removal():
    s = session('<bind nodeset="/data/q" type="string"/>',
                '<data><q/><b jr:template=""/><a jr:template=""/><a/><g><c jr:template=""/></g></data>')
    assert list(s.recompute()["repeats"].items()) == [("/data/a", 1), ("/data/b", 0), ("/data/g/c", 0)]
    s.remove_row("/data/a", 1)
    s.add_row("/data/g/c")
    assert s.recompute()["repeats"] == {"/data/a": 0, "/data/b": 0, "/data/g/c": 1}


def test_repeat_whose_parent_is_missing_counts_zero():
    s = session('<bind nodeset="/data/q" type="string"/>',
                '<data><q/><g><r jr:template=""/></g></data>', saved="<data><q/></data>")
    assert s.recompute()["repeats"] == {"/data/g/r": 0}


def test_dict_keys_sort_by_bytes():
    rows = "".join(f"<r><x>{i}</x></r>" for i in range(1, 11))
    s = session('<bind nodeset="/data/r/x" relevant="true()"/>', f"<data>{rows}</data>")
    keys = list(s.recompute()["relevant"])
    assert keys[:3] == ["/data/r[10]/x", "/data/r[1]/x", "/data/r[2]/x"]


def test_write_back_after_rows_were_removed_and_added():
    # Removed rows leave their records behind; each value still reaches the
    # node it was calculated for.
    s = session('<bind nodeset="/data/r/d" calculate="concat(\'d\', ../v)"/>'
                '<bind nodeset="/data/n" calculate="count(/data/r)"/>',
                '<data><r jr:template=""><v/><d/></r><r><v>1</v><d/></r><r><v>2</v><d/></r>'
                '<r><v>3</v><d/></r><n/></data>')
    s.remove_row("/data/r", 1)
    s.add_row("/data/r")
    s.set("/data/r[3]/v", "4")
    assert s.recompute()["calculated"] == {"/data/n": "3", "/data/r[1]/d": "d2", "/data/r[2]/d": "d3",
                                           "/data/r[3]/d": "d4"}
    assert xml(s) == ("<data><r><v>2</v><d>d2</d></r><r><v>3</v><d>d3</d></r>"
                      "<r><v>4</v><d>d4</d></r><n>3</n></data>")
