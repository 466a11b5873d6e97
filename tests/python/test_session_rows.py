"""Repeat rows of a Session: adding them from the templates, removing them,
nested repeats through instance_xml and a saved instance, and the borrows of
the row and choice methods."""

import pytest

import tovarn
from support import HEAD, TAIL, Index, run_child, xform, xml

BIND = '<bind nodeset="/data/r/x" type="string"/>'

# A template followed by two ordinary rows and a sibling after them.
ROWS = '<data><r jr:template=""><x>default</x><y a="1"/></r><r><x>1</x></r><r><x>2</x></r><z/></data>'


def session(instance=ROWS, saved=None):
    return tovarn.Session(xform(BIND, instance), instance=saved)


# --- add_row ------------------------------------------------------------------


def test_add_row_after_the_last_row_before_what_follows():
    s = session()
    assert s.add_row("/data/r") == 3
    assert xml(s) == ('<data><r><x>1</x></r><r><x>2</x></r>'
                      '<r><x>default</x><y a="1"/></r><z/></data>')
    # The new row is found by its position at once.
    assert s.get("/data/r[3]/x") == "default"


def test_added_row_is_the_template_not_an_existing_row():
    s = session()
    s.set("/data/r[2]/x", "answered")
    s.add_row("/data/r")
    assert s.get("/data/r[3]/x") == "default"


@pytest.mark.parametrize("path", ["/data/r[1]", " /data/r", "/data/r/", "data/r", "/data/x"],
                         ids=["indexed", "leading-space", "trailing-slash", "relative", "no-template"])
def test_add_row_needs_the_exact_key(path):
    s = session()
    with pytest.raises(ValueError) as e:
        s.add_row(path)
    assert type(e.value) is ValueError
    assert str(e.value) == f"'{path}' is not a repeat in this form"


def test_add_row_after_the_last_row_was_removed_goes_where_the_template_stood():
    s = session('<data><r jr:template=""><x/></r><r><x>1</x></r><z/></data>')
    assert s.remove_row("/data/r", 1) == 0
    assert s.add_row("/data/r") == 1
    assert xml(s) == "<data><r><x/></r><z/></data>"


@pytest.mark.parametrize("instance, saved, expected", [
    ('<data><a/><r jr:template=""><x/></r><z/><meta><id/></meta></data>', None,
     "<data><a/><r><x/></r><z/><meta><id/></meta></data>"),
    ('<data><r jr:template=""><x/></r><z/></data>', None, "<data><r><x/></r><z/></data>"),
    ('<data><a/><r jr:template=""><x/></r></data>', None, "<data><a/><r><x/></r></data>"),
    ('<data><a/><b/><r jr:template=""><x/></r><z/></data>', "<data><z/><a/></data>",
     "<data><z/><a/><r><x/></r></data>"),
    ('<data><a/><r jr:template=""><x/></r><z/></data>', "<data><z/><old/></data>",
     "<data><r><x/></r><z/><old/></data>"),
    ('<data><g><a/><r jr:template=""><x/></r><z/></g></data>', None,
     "<data><g><a/><r><x/></r><z/></g></data>"),
], ids=["between-its-siblings", "first", "last", "after-what-precedes-it", "before-all-that-follows",
        "in-a-group"])
def test_first_row_goes_where_the_template_stood(instance, saved, expected):
    s = session(instance, saved)
    key = "/data/g/r" if "<g>" in instance else "/data/r"
    assert s.add_row(key) == 1
    assert xml(s) == expected
    # Later rows follow the last one.
    assert s.add_row(key) == 2
    assert xml(s) == expected.replace("<r><x/></r>", "<r><x/></r><r><x/></r>")


def test_add_row_without_a_parent():
    s = session('<data><g><r jr:template=""><x/></r></g></data>',
                saved="<data><other/></data>")
    before = s.instance_xml()
    with pytest.raises(ValueError) as e:
        s.add_row("/data/g/r")
    assert str(e.value) == "'/data/g/r' has nowhere to hang"
    assert s.instance_xml() == before
    s.set("/data/g", "")
    assert s.add_row("/data/g/r") == 1


def test_templates_come_from_the_form_for_a_saved_instance():
    s = session(saved="<data><r><x>saved</x></r></data>")
    assert s.add_row("/data/r") == 2
    assert xml(s) == '<data><r><x>saved</x></r><r><x>default</x><y a="1"/></r></data>'


@pytest.mark.parametrize("instance, key, expected", [
    ('<data><r jr:template=""><x>first</x></r><r jr:template=""><x>second</x></r></data>',
     "/data/r", "<data><r><x>second</x></r></data>"),
    ('<data><g><r jr:template=""><x/></r></g><g><r jr:template=""><x>2</x></r></g></data>',
     "/data/g[2]/r", "<data><g/><g><r><x>2</x></r></g></data>"),
    ('<data><g><r jr:template=""><x/></r></g><g><r jr:template=""><x>2</x></r></g></data>',
     "/data/g[1]/r", "<data><g><r><x>2</x></r></g><g/></data>"),
], ids=["same-path-later-wins", "second-parent", "first-parent"])
def test_template_keys(instance, key, expected):
    s = session(instance)
    assert s.add_row(key) == 1
    assert xml(s) == expected


# --- remove_row ---------------------------------------------------------------


@pytest.mark.parametrize("position, message", [
    (0, "'/data/r' has 2 row(s); there is no row 0"),
    (3, "'/data/r' has 2 row(s); there is no row 3"),
    (2**64 - 1, "'/data/r' has 2 row(s); there is no row 18446744073709551615"),
], ids=["zero", "beyond", "largest"])
def test_remove_row_refusals(position, message):
    s = session()
    before = s.instance_xml()
    with pytest.raises(ValueError) as e:
        s.remove_row("/data/r", position)
    assert type(e.value) is ValueError
    assert str(e.value) == message
    assert s.instance_xml() == before


@pytest.mark.parametrize("path, position, rows, expected", [
    ("/data/r", 2, 1, "<data><r><x>1</x></r><z/></data>"),
    ("/data/r", 1, 1, "<data><r><x>2</x></r><z/></data>"),
    ("/data/r", True, 1, "<data><r><x>2</x></r><z/></data>"),
], ids=["last", "first", "true-is-one"])
def test_remove_row(path, position, rows, expected):
    s = session()
    assert s.remove_row(path, position) == rows
    assert xml(s) == expected


@pytest.mark.parametrize("path", ["/data/z", "/data/r[2]/x", "r[1]", "/data/r/x", "/data/r[1]", "/data"],
                         ids=["question", "inside-a-row", "relative", "below-the-repeat", "indexed", "root"])
def test_remove_row_of_what_is_no_repeat(path):
    s = session()
    before = s.instance_xml()
    with pytest.raises(ValueError) as e:
        s.remove_row(path, 1)
    assert type(e.value) is ValueError
    assert str(e.value) == f"'{path}' is not a repeat in this form"
    assert s.instance_xml() == before


def test_rows_are_counted_by_recompute():
    s = session()
    s.add_row("/data/r")
    s.remove_row("/data/r", 1)
    assert s.recompute()["repeats"] == {"/data/r": 2}


# --- nested repeats -----------------------------------------------------------

NESTED = ('<data><hh jr:template=""><name/><m jr:template=""><age>0</age></m></hh>'
          '<hh><name>first</name><m><age>30</age></m></hh></data>')


def test_nested_row_carries_no_template_attribute():
    s = session(NESTED)
    assert s.add_row("/data/hh") == 2
    assert "template" not in s.instance_xml()
    assert xml(s) == ("<data><hh><name>first</name><m><age>30</age></m></hh>"
                      "<hh><name/><m><age>0</age></m></hh></data>")
    # The inner repeat is counted in each household.
    assert s.recompute()["repeats"] == {"/data/hh": 2, "/data/hh[1]/m": 1, "/data/hh[2]/m": 1}


def test_nested_answers_survive_a_saved_instance():
    s = session(NESTED)
    s.add_row("/data/hh")
    s.set("/data/hh[2]/name", "second")
    s.set("/data/hh[2]/m/age", "41")
    saved = s.instance_xml()
    again = session(NESTED, saved=saved)
    assert again.instance_xml() == saved
    assert again.get("/data/hh[2]/m/age") == "41"


def test_inner_template_adds_rows_of_its_own():
    s = session(NESTED)
    assert s.add_row("/data/hh/m") == 2
    assert xml(s) == ("<data><hh><name>first</name><m><age>30</age></m><m><age>0</age></m></hh></data>")


# Households, each with kids, each with toys; the saved instance holds two
# households, the second with two kids.
FAMILY = ('<data><hh jr:template=""><name/><kid jr:template=""><age/>'
          '<toy jr:template=""><t/></toy></kid></hh><end/></data>')
TWO_HOUSEHOLDS = ("<data><hh><name>a</name><kid><age>1</age></kid></hh>"
                  "<hh><name>b</name><kid><age>2</age></kid><kid><age>3</age><toy><t>x</t></toy></kid></hh>"
                  "<end/></data>")


@pytest.mark.parametrize("path, rows, expected", [
    ("/data/hh[2]/kid", 3, "<data><hh><name>a</name><kid><age>1</age></kid></hh>"
     "<hh><name>b</name><kid><age>2</age></kid><kid><age>3</age><toy><t>x</t></toy></kid>"
     "<kid><age/><toy><t/></toy></kid></hh><end/></data>"),
    ("/data/hh[1]/kid", 2, "<data><hh><name>a</name><kid><age>1</age></kid><kid><age/><toy><t/></toy></kid></hh>"
     "<hh><name>b</name><kid><age>2</age></kid><kid><age>3</age><toy><t>x</t></toy></kid></hh><end/></data>"),
    ("/data/hh[2]/kid[2]/toy", 2, "<data><hh><name>a</name><kid><age>1</age></kid></hh>"
     "<hh><name>b</name><kid><age>2</age></kid><kid><age>3</age><toy><t>x</t></toy><toy><t/></toy></kid></hh>"
     "<end/></data>"),
    ("/data/hh[2]/kid[1]/toy", 1, "<data><hh><name>a</name><kid><age>1</age></kid></hh>"
     "<hh><name>b</name><kid><age>2</age><toy><t/></toy></kid><kid><age>3</age><toy><t>x</t></toy></kid></hh>"
     "<end/></data>"),
    ("/data/hh[1]/kid/toy", 1, "<data><hh><name>a</name><kid><age>1</age><toy><t/></toy></kid></hh>"
     "<hh><name>b</name><kid><age>2</age></kid><kid><age>3</age><toy><t>x</t></toy></kid></hh><end/></data>"),
    ("/data/hh", 3, TWO_HOUSEHOLDS.replace("<end/>", "<hh><name/><kid><age/><toy><t/></toy></kid></hh><end/>")),
], ids=["second-household", "first-household", "toy-of-a-kid", "first-toy-where-the-template-stood",
        "only-kid-of-a-household", "outer"])
def test_add_row_in_an_outer_row(path, rows, expected):
    s = session(FAMILY, saved=TWO_HOUSEHOLDS)
    assert s.add_row(path) == rows
    assert xml(s) == expected
    # The same row comes off again.
    assert s.remove_row(path, rows) == rows - 1
    assert xml(s) == xml(session(FAMILY, saved=TWO_HOUSEHOLDS))


@pytest.mark.parametrize("saved, path, message", [
    (TWO_HOUSEHOLDS, "/data/hh/kid", "'/data/hh/kid' could mean any of the 2 rows /data/hh[1] to"
     " /data/hh[2] \u2014 name one, as in '/data/hh[1]/kid'"),
    (TWO_HOUSEHOLDS, "/data/hh[2]/kid/toy", "'/data/hh[2]/kid/toy' could mean any of the 2 rows"
     " /data/hh[2]/kid[1] to /data/hh[2]/kid[2] \u2014 name one, as in '/data/hh[2]/kid[1]/toy'"),
    (TWO_HOUSEHOLDS, "/data/hh[3]/kid", "'/data/hh[3]/kid' points at hh[3], which does not exist"
     " \u2014 add the row first with add_row()"),
    (TWO_HOUSEHOLDS, "/data/hh[0]/kid", "'/data/hh[0]/kid' points at hh[0], which does not exist"
     " \u2014 add the row first with add_row()"),
    (TWO_HOUSEHOLDS, "/data/hh[1]/kid[2]/toy", "'/data/hh[1]/kid[2]/toy' points at kid[2], which does"
     " not exist \u2014 add the row first with add_row()"),
    ("<data><end/></data>", "/data/hh/kid", "'/data/hh/kid' points at hh, which does not exist"
     " \u2014 add the row first with add_row()"),
    (TWO_HOUSEHOLDS, "/hh/kid", "'/hh/kid' is not a repeat in this form"),
    (TWO_HOUSEHOLDS, "/data/hh[2]/kid[1]", "'/data/hh[2]/kid[1]' is not a repeat in this form"),
    (TWO_HOUSEHOLDS, "/data/hh[2]/name", "'/data/hh[2]/name' is not a repeat in this form"),
    (TWO_HOUSEHOLDS, "/data/hh[x]/kid", "'/data/hh[x]/kid' is not a repeat in this form"),
    (TWO_HOUSEHOLDS, "/data/hh[2]//kid", "'/data/hh[2]//kid' is not a repeat in this form"),
    (TWO_HOUSEHOLDS, "/data[1]/hh", "'/data[1]/hh' is not a repeat in this form"),
], ids=["several-households", "several-kids", "past-the-households", "household-zero", "past-the-kids",
        "no-household", "old-key", "indexed-repeat", "no-repeat-in-the-row", "not-a-position",
        "doubled-slash", "indexed-root"])
def test_nested_row_refusals(saved, path, message):
    s = session(FAMILY, saved=saved)
    before = s.instance_xml()
    with pytest.raises(ValueError) as e:
        s.add_row(path)
    assert type(e.value) is ValueError
    assert str(e.value) == message
    # remove_row reads the path the same way; a lacking outer row has no rows.
    with pytest.raises(ValueError) as e:
        s.remove_row(path, 1)
    assert str(e.value) == (f"'{path}' has 0 row(s); there is no row 1"
                            if "does not exist" in message else message)
    assert s.instance_xml() == before


def test_nested_repeats_counted_per_outer_row():
    s = session(FAMILY, saved=TWO_HOUSEHOLDS)
    assert s.recompute()["repeats"] == {
        "/data/hh": 2, "/data/hh[1]/kid": 1, "/data/hh[2]/kid": 2,
        "/data/hh[1]/kid/toy": 0, "/data/hh[2]/kid[1]/toy": 0, "/data/hh[2]/kid[2]/toy": 1}
    s.remove_row("/data/hh", 2)
    assert s.recompute()["repeats"] == {"/data/hh": 1, "/data/hh/kid": 1, "/data/hh/kid/toy": 0}
    s.remove_row("/data/hh", 1)
    # Without an outer row a nested repeat counts no rows under its own path.
    assert s.recompute()["repeats"] == {"/data/hh": 0, "/data/hh/kid": 0, "/data/hh/kid/toy": 0}
    # Every key is a path add_row takes.
    s.add_row("/data/hh")
    s.add_row("/data/hh")
    for key, rows in s.recompute()["repeats"].items():
        if key.count("/") == 3:
            assert s.add_row(key) == rows + 1


def test_deeply_nested_templates_in_a_child_process():
    # Each template's row holds the rows of the templates inside it: held as a
    # copy each, 5000 nested templates take gigabytes.
    code = f"""
import tovarn
n = 5000
instance = ("<data>" + "".join(f'<a{{i}} jr:template="">' for i in range(n))
            + "".join(f"</a{{i}}>" for i in reversed(range(n))) + "</data>")
s = tovarn.Session({HEAD!r} + "<instance>" + instance + "</instance>" + {BIND!r} + {TAIL!r})
assert len(s.recompute()["repeats"]) == n
assert s.add_row("/data/a0") == 1
assert s.add_row("/data/a0/a1") == 2
saved = s.instance_xml()
assert saved.count("<a") == 2 * n - 1 and "template" not in saved
# ru_maxrss would carry the parent's peak over the exec; VmHWM is this process's.
with open("/proc/self/status") as status:
    print(next(int(line.split()[1]) for line in status if line.startswith("VmHWM:")) // 1024)
"""
    done = run_child(code, timeout=600)
    assert done.returncode == 0, done.stderr
    assert int(done.stdout) < 512, f"{done.stdout.strip()} MiB"


# --- borrows ------------------------------------------------------------------


@pytest.mark.parametrize("reentry, message", [
    (lambda s: s.choices("/data/r/x"), "Already mutably borrowed"),
    (lambda s: s.add_row("/data/r"), "Already borrowed"),
    (lambda s: s.remove_row("/data/r", 1), "Already borrowed"),
    (lambda s: s.set("/data/r/x", "9"), "Already borrowed"),
    (lambda s: s.recompute(), "Already borrowed"),
], ids=["choices", "add_row", "remove_row", "set", "recompute"])
def test_methods_refused_while_remove_row_holds_the_session(reentry, message):
    s = session()
    before = s.instance_xml()
    with pytest.raises(RuntimeError) as e:
        s.remove_row("/data/r", Index(lambda: reentry(s)))
    assert type(e.value) is RuntimeError
    assert str(e.value) == message
    assert s.instance_xml() == before
    # The borrow was given back.
    assert s.add_row("/data/r") == 3


def test_answers_find_their_rows_across_changes_of_structure():
    s = session('<data><r jr:template=""><x/></r></data>')
    for _ in range(3):
        s.add_row("/data/r")
    for i in (1, 2, 3):
        s.set(f"/data/r[{i}]/x", str(i))
    s.remove_row("/data/r", 2)
    s.set("/data/r[2]/x", "three")
    s.add_row("/data/r")
    s.set("/data/r[3]/x", "new")
    s.set("/data/r[1]/x", "one")
    assert xml(s) == "<data><r><x>one</x></r><r><x>three</x></r><r><x>new</x></r></data>"
    assert [s.get(f"/data/r[{i}]/x") for i in (1, 2, 3)] == ["one", "three", "new"]
    assert s.get("/data/r[x = 'new']/x") == "new"
