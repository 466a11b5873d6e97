"""Prints what the engine says about every form of the shared corpus, as JSON
lines in a fixed order: check_form's findings, then the findings of each real
and synthetic submission, then a Session's first recompute. Two builds' outputs
differ exactly where their behaviour does, so `diff` shows what a change did.

    PYTHONPATH=build/python python3 tools/corpus_outputs.py > outputs.jsonl

tests/python/test_corpus_outputs.py holds the build to the outputs kept in
tests/python/data/corpus_outputs.jsonl.gz. A change meant to alter them writes
them anew with

    PYTHONPATH=build/python python3 tools/corpus_outputs.py | gzip -9n > tests/python/data/corpus_outputs.jsonl.gz
"""

import csv
import json
import pathlib
import sys

import tovarn

TODAY, NOW = "2026-12-10", "2026-12-10T12:00:00.000Z"


def find_corpus():
    here = pathlib.Path(__file__).resolve()
    for p in here.parents:
        if (p / "shared" / "corpus").is_dir():
            return p / "shared" / "corpus"
    sys.exit("corpus_outputs: no shared/corpus beside the checkout")


def table(corpus, name):
    path = corpus / name
    if not path.is_file():
        return []
    with path.open(newline="", encoding="utf-8") as f:
        return list(csv.DictReader(f, delimiter="\t"))


def outcome(call):
    try:
        return {"value": call()}
    except Exception as e:  # the message is the output
        return {"error": type(e).__name__, "message": str(e)}


def outputs(corpus):
    """Yields the output lines, in their fixed order."""
    submissions = {}
    for row in table(corpus, "SUBMISSIONS.tsv"):
        submissions.setdefault(row["form_local_file"], []).append(corpus / "forms" / row["local_file"])
    for row in table(corpus, "synthetic/INDEX.tsv"):
        submissions.setdefault(row["form_local_file"], []).append(corpus / "synthetic" / row["synthetic_file"])
    for row in sorted(table(corpus, "MANIFEST.tsv"), key=lambda r: r["local_file"]):
        local = row["local_file"]
        form = str(corpus / "forms" / local)
        yield json.dumps({"form": local, "check_form": outcome(lambda: tovarn.check_form(form))})
        for s in sorted(submissions.get(local, [])):
            rel = str(s.relative_to(corpus))
            found = outcome(lambda: tovarn.submission_findings(form, str(s), TODAY, NOW))
            yield json.dumps({"form": local, "submission": rel, "findings": found})
        session = outcome(lambda: tovarn.Session(form, today=TODAY, now=NOW))
        if "value" in session:
            session = outcome(session["value"].recompute)
        yield json.dumps({"form": local, "recompute": session})


def main():
    for line in outputs(find_corpus()):
        sys.stdout.write(line + "\n")


if __name__ == "__main__":
    main()
