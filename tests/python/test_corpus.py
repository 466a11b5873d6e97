"""Every real form of the shared corpus loads or is refused with one of the
form load's own messages, and judging its submissions never crashes. Each
source runs in a child process, so a crash fails one source, not the run."""

import csv

import pytest

from support import CORPUS, corpus, records_from_child  # noqa: F401 (corpus is a fixture)

pytestmark = pytest.mark.usefixtures("corpus")

LOAD_MESSAGES = (
    "the XForm has no root element",
    "the document is not an XForm: it has no <model> element",
    "a <bind> has no nodeset",
    "the XForm declares no binds, so it carries no rules",
)
LOAD_PREFIXES = (
    "XForm XML: ",
    "these calculations depend on each other, so none of them has a defined value: ",
)
RULES = ("relevant", "calculate", "constraint", "readonly", "required")

CHILD = r"""
import json, sys, tovarn
jobs = json.loads(sys.stdin.read())
for form, submissions in jobs:
    try:
        tovarn.submission_findings(form, "<data/>")
    except RuntimeError as e:
        # <data/> is another form's submission unless the form's root is data.
        if not str(e).startswith("the submission's root element is <data>, "):
            print(json.dumps({"form": form, "refused": str(e)}), flush=True)
            continue
    for submission in submissions:
        try:
            found = tovarn.submission_findings(form, submission)
        except RuntimeError as e:
            print(json.dumps({"form": form, "submission": submission, "unread": str(e)}), flush=True)
            continue
        for f in found:
            assert list(f) == ["path", "kind", "says"], f
            assert f["kind"] in ("constraint", "required", "calculation", "not-evaluated"), f
            assert f["says"].startswith(f["path"] + ": "), f
        print(json.dumps({"form": form, "submission": submission, "findings": len(found)}), flush=True)
"""


def is_load_message(message):
    if message in LOAD_MESSAGES or message.startswith(LOAD_PREFIXES):
        return True
    rule, _, rest = message.partition(" of ")
    return rule in RULES and " \u2014 in expression \"" in rest and rest.endswith('"')


def table(name):
    path = CORPUS / name
    if not path.is_file():
        return []
    with path.open(newline="", encoding="utf-8") as f:
        return list(csv.DictReader(f, delimiter="\t"))


def jobs_by_source():
    submissions = {}
    for row in table("SUBMISSIONS.tsv"):
        submissions.setdefault(row["form_local_file"], []).append(str(CORPUS / "forms" / row["local_file"]))
    for row in table("synthetic/INDEX.tsv"):
        submissions.setdefault(row["form_local_file"], []).append(str(CORPUS / "synthetic" / row["synthetic_file"]))
    sources = {}
    for row in table("MANIFEST.tsv"):
        local = row["local_file"]
        sources.setdefault(local.split("/")[0], []).append(
            (str(CORPUS / "forms" / local), submissions.get(local, [])))
    return sources


SOURCES = jobs_by_source() if CORPUS.is_dir() else {}


@pytest.mark.parametrize("source", sorted(SOURCES) or ["none"])
def test_corpus_source(source):
    jobs = SOURCES.get(source)
    if not jobs:
        pytest.skip("no forms listed")
    records = records_from_child(CHILD, jobs)
    refused = [(r["form"], r["refused"]) for r in records if "refused" in r]
    assert [r for r in refused if not is_load_message(r[1])] == []
    judged = {(r["form"], r["submission"]) for r in records if "submission" in r}
    expected = {(form, s) for form, subs in jobs for s in subs if form not in dict(refused)}
    assert judged == expected
