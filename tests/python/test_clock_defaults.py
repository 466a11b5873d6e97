"""Without a clock from the caller or the submission, today() and now() are
the machine's local date and date-time, checked in child processes whose
time zone is set, against what Python's datetime reads there."""

import datetime
import json

import pytest

from support import LOCAL_DATE, LOCAL_NOW, local_clock_names, run_child, xform

FORM = xform('<bind nodeset="/data/q" calculate="concat(today(), \'|\', now())"/>')

CHILD = r"""
import datetime, json, re, sys, tovarn

FORM = sys.argv[1]

def reading(call):
    before = datetime.datetime.now().astimezone()
    texts = call()
    after = datetime.datetime.now().astimezone()
    return {"texts": texts, "before": before.isoformat(), "after": after.isoformat()}

def evaluated():
    return tovarn.eval_expression("concat(today(), '|', now())", "<data/>").split("|")

def judged():
    [found] = tovarn.submission_findings(FORM, "<data><q/></data>")
    return re.fullmatch(r'/data/q: holds "", but the form calculates "(.*)"', found["says"])[1].split("|")

def filled():
    s = tovarn.Session(FORM)
    s.recompute()
    return s.get("/data/q").split("|")

print(json.dumps({name: reading(call) for name, call in
                  [("eval_expression", evaluated), ("submission_findings", judged), ("Session", filled)]}))
"""


# POSIX zone rules, which need no zone files: the name in angle brackets, then
# the offset west of UTC.
@pytest.mark.parametrize("tz, suffix", [
    ("UTC0", "Z"),
    ("<+0530>-5:30", "+05:30"),
    ("<-0330>3:30", "-03:30"),
    ("<+14>-14", "+14:00"),
    ("<-12>12", "-12:00"),
    ("CET-1CEST,M3.5.0,M10.5.0/3", None),
], ids=["utc", "india", "newfoundland", "line-islands", "baker-island", "central-europe"])
def test_local_date_and_time(tz, suffix):
    run = run_child(CHILD, FORM, env={"TZ": tz})
    assert run.returncode == 0, run.stderr[-3000:]
    for entry, read in json.loads(run.stdout).items():
        today, now = read["texts"]
        before = datetime.datetime.fromisoformat(read["before"])
        after = datetime.datetime.fromisoformat(read["after"])
        assert local_clock_names([today, now], before, after) == (LOCAL_DATE, LOCAL_NOW), (entry, read)
        # Read once: the date is the date-time's own.
        assert now[:10] == today, (entry, read)
        if suffix:
            assert now.endswith(suffix), (entry, read)
