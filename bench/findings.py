"""Judgements per second of submission_findings on the synthetic javarosa
submissions, with the time split between loading the form and judging, beside
lxml's time to parse the same form text.

    PYTHONPATH=build/python /usr/bin/python3 bench/findings.py [FORM_NAME_PART ...]

Forms with a goal for the whole call (a ratio to lxml's parse of the same
form, in the same run) show it and whether this run meets it.

The load share is measured as a call with an empty submission of another
form ("<_/>"): the form is read and its model built, the submission read and
refused before anything is judged. Judging is the rest.
"""

import csv
import pathlib
import sys
import time

import lxml.etree

import tovarn

REPO = pathlib.Path(__file__).resolve().parents[1]
# Beside the checkout; a worktree of it sits one level further down.
CORPUS = next((p for p in (REPO.parent / "shared" / "corpus", REPO.parent.parent / "shared" / "corpus")
               if p.is_dir()), REPO.parent / "shared" / "corpus")
EMPTY = "<_/>"
OTHER_FORM = "the submission's root element is <_>, "
# The whole call's goal, as a ratio to lxml's parse of the same form.
GOALS = {
    "javarosa/child_vaccination_VOL_tool_v12.xml": 0.5,
    "javarosa/nigeria_wards_internal_2ndry_instance.xml": 0.4,
}


def load_only(text):
    try:
        tovarn.submission_findings(text, EMPTY)
    except RuntimeError as e:
        if not str(e).startswith(OTHER_FORM):
            raise


def best_per_call(fn, budget=0.4, rounds=5):
    """The best mean time of one call over `rounds` timed batches."""
    fn()
    n = 1
    while True:
        start = time.perf_counter()
        for _ in range(n):
            fn()
        spent = time.perf_counter() - start
        if spent > budget / rounds or n >= 1 << 20:
            break
        n *= 2
    best = spent / n
    for _ in range(rounds - 1):
        start = time.perf_counter()
        for _ in range(n):
            fn()
        best = min(best, (time.perf_counter() - start) / n)
    return best


def goal_text(goal, ratio):
    if goal is None:
        return ""
    return f"≤{goal:.2f} {'met' if ratio <= goal else 'missed'}"


def forms_with_submissions(wanted):
    by_form = {}
    with (CORPUS / "synthetic" / "INDEX.tsv").open(newline="", encoding="utf-8") as f:
        for row in csv.DictReader(f, delimiter="\t"):
            form = row["form_local_file"]
            if not form.startswith("javarosa/"):
                continue
            if wanted and not any(w in form for w in wanted):
                continue
            by_form.setdefault(form, []).append(CORPUS / "synthetic" / row["synthetic_file"])
    return by_form


def main(argv):
    if not CORPUS.is_dir():
        print(f"no corpus at {CORPUS}", file=sys.stderr)
        return 1
    print(f"{'form':<48} {'judg/s':>9} {'call µs':>9} {'load µs':>9} {'judge µs':>9}"
          f" {'lxml µs':>9} {'call/lxml':>9} {'goal':>12}")
    for form, submissions in sorted(forms_with_submissions(argv[1:]).items()):
        text = (CORPUS / "forms" / form).read_text(encoding="utf-8")
        subs = [s.read_text(encoding="utf-8") for s in submissions]
        try:
            load_only(text)
        except RuntimeError as e:
            print(f"{form[9:]:<48} refused: {e}")
            continue

        def judge_all():
            for s in subs:
                tovarn.submission_findings(text, s)

        call = best_per_call(judge_all) / len(subs)
        load = best_per_call(lambda: load_only(text))
        data = text.encode("utf-8")
        lxml_parse = best_per_call(lambda: lxml.etree.fromstring(data))
        print(f"{form[9:]:<48} {1 / call:>9.0f} {call * 1e6:>9.1f} {load * 1e6:>9.1f}"
              f" {(call - load) * 1e6:>9.1f} {lxml_parse * 1e6:>9.1f} {call / lxml_parse:>9.2f}"
              f" {goal_text(GOALS.get(form), call / lxml_parse):>12}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
