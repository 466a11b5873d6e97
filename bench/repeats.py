"""Large repeats: how the commonest rules over a repeat scale with its rows.

    PYTHONPATH=build/python /usr/bin/python3 bench/repeats.py [ROWS ...]

Prints, at 1,000, 5,000, 10,000 and 20,000 rows (or the counts given), the
time of each piece of work with its goal beside the figure at the row count
the goal is set for:
- equality of two node-sets: count(/d/a[. = /d/a]) by eval_expression;
- a name unique in its repeat, not(. = ../preceding-sibling::rep/name),
  judged by submission_findings;
- a share of the total, ../amount div /data/total with the total
  sum(/data/rep/amount) calculated outside the repeat, judged on a
  submission whose shares hold, and recomputed from empty shares (Session
  with the submission as its instance);
- a calculation in each row reading the row's amount, written as the
  absolute path /data/rep/amount (which inside the row reads that row) and
  as the relative ../amount, recomputed: the two should cost the same;
- successive add_row calls on an empty repeat.
"""

import sys
import time

import tovarn

HEAD = """<h:html xmlns="http://www.w3.org/2002/xforms" xmlns:h="http://www.w3.org/1999/xhtml"
  xmlns:jr="http://openrosa.org/javarosa"><h:head><h:title>repeats</h:title><model>"""
TAIL = "</model></h:head><h:body/></h:html>"

UNIQUE_FORM = HEAD + """<instance><data id="unique"><rep jr:template=""><name/></rep></data></instance>
<bind nodeset="/data/rep/name" constraint="not(. = ../preceding-sibling::rep/name)"/>""" + TAIL

SHARE_FORM = HEAD + """<instance><data id="share">
<rep jr:template=""><amount/><share/></rep><total/></data></instance>
<bind nodeset="/data/rep/amount" type="decimal"/>
<bind nodeset="/data/total" calculate="sum(/data/rep/amount)"/>
<bind nodeset="/data/rep/share" calculate="../amount div /data/total"/>""" + TAIL


def row_form(amount):
    return HEAD + f"""<instance><data id="share">
<rep jr:template=""><amount/><share/></rep><total/></data></instance>
<bind nodeset="/data/rep/share" calculate="{amount} * 2"/>""" + TAIL


def timed(fn, repeat=1):
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def equality(rows):
    doc = "<d>" + "".join(f"<a>{k % 997}</a>" for k in range(rows)) + "</d>"
    out = []
    t = timed(lambda: out.append(tovarn.eval_expression("count(/d/a[. = /d/a])", doc)), 3)
    assert out[-1] == str(rows), out[-1]
    return t


def unique(rows):
    # Every tenth name repeats an earlier one, so findings are made too.
    names = "".join(f"<rep><name>n{k if k % 10 else k // 2}</name></rep>" for k in range(rows))
    submission = f'<data id="unique">{names}</data>'
    out = []
    t = timed(lambda: out.append(tovarn.submission_findings(UNIQUE_FORM, submission)))
    assert len(out[-1]) == sum(1 for k in range(rows) if k % 10 == 0 and k > 0) or out[-1]
    return t


def share_submission(rows, share=""):
    reps = "".join(f"<rep><amount>{k % 50 + 1}</amount><share>{share}</share></rep>"
                   for k in range(rows))
    return f'<data id="share">{reps}<total/></data>'


def share_judge(rows):
    # A submission whose shares hold, as a client that ran the form sends it:
    # the figure is the rule's, not that of building findings.
    session = tovarn.Session(SHARE_FORM, share_submission(rows))
    session.recompute()
    submission = session.instance_xml()
    out = []
    t = timed(lambda: out.append(tovarn.submission_findings(SHARE_FORM, submission)), 3)
    assert out[-1] == [], out[-1][:3]
    return t


def share_recompute(rows):
    submission = share_submission(rows)
    sessions = [tovarn.Session(SHARE_FORM, submission) for _ in range(3)]
    results = []
    t = min(timed(lambda s=s: results.append(s.recompute())) for s in sessions)
    # Every share, and the total.
    assert len(results[-1]["calculated"]) == rows + 1 and not results[-1]["failed"]
    return t


def row_recompute(amount):
    def work(rows):
        submission = share_submission(rows)
        sessions = [tovarn.Session(row_form(amount), submission) for _ in range(4)]
        # The first recompute after other work pays for memory the others reuse.
        sessions.pop().recompute()
        results = []
        t = min(timed(lambda s=s: results.append(s.recompute())) for s in sessions)
        calculated = results[-1]["calculated"]
        assert calculated["/data/rep[2]/share"] == "4" and len(calculated) == rows, calculated
        return t
    return work


def add_rows(rows):
    session = tovarn.Session(UNIQUE_FORM)

    def run():
        for _ in range(rows):
            session.add_row("/data/rep")

    t = timed(run)
    assert session.recompute()["repeats"] == {"/data/rep": rows}
    return t


# (label, work, rows the goal is set at, goal in seconds)
WORK = [
    ("count(/d/a[. = /d/a])", equality, 20_000, 0.050),
    ("unique name, judged", unique, 20_000, 1.0),
    ("share of total, judged", share_judge, 10_000, 0.050),
    ("share of total, recompute", share_recompute, 10_000, 0.100),
    ("/data/rep/amount in the row, recompute", row_recompute("/data/rep/amount"), 10_000, 0.100),
    ("../amount in the row, recompute", row_recompute("../amount"), 10_000, 0.100),
    ("successive add_row", add_rows, 20_000, 1.0),
]


def main(argv):
    counts = [int(a) for a in argv] or [1_000, 5_000, 10_000, 20_000]
    width = max(len(w[0]) for w in WORK)
    print(f"{'work':<{width}}" + "".join(f"{n:>12,}" for n in counts) + "   goal")
    for label, work, goal_rows, goal in WORK:
        figures = {n: work(n) for n in counts}
        cells = "".join(f"{figures[n] * 1000:>10.1f}ms" for n in counts)
        note = f"   <= {goal * 1000:.0f} ms at {goal_rows:,}"
        if goal_rows in figures:
            note += " (met)" if figures[goal_rows] <= goal else " (NOT met)"
        if label.startswith("share") and 1_000 in figures and 10_000 in figures:
            ratio = figures[10_000] / figures[1_000]
            note += f"; 10,000/1,000 = {ratio:.1f}x (<= 15x)"
        print(f"{label:<{width}}{cells}{note}", flush=True)


if __name__ == "__main__":
    main(sys.argv[1:])
