"""What completing a submission from the form's instance costs: one
submission_findings call on a repeat of 20,000 rows whose rows are whole,
whose rows each lack two of their five answers, and whose repeat is left out
entirely, beside the same form's fixed cost (a submission of another form,
refused once the form is loaded).

    PYTHONPATH=build/python /usr/bin/python3 bench/completion.py [ROWS]

Rows that lack answers get them added, empty, before judging: the third line
less the first is what the completion costs when it has work to do.
"""

import sys
import time

import tovarn

FIELDS = ("name", "age", "sex", "note", "double")


def build_form():
    row = "".join(f"<{f}/>" for f in FIELDS)
    binds = ('<bind nodeset="/data/rep/name" required="true()"/>'
             '<bind nodeset="/data/rep/age" relevant="../name != \'\'" constraint=". &lt; 130"/>'
             '<bind nodeset="/data/rep/sex" required="../age &gt; 15"/>'
             '<bind nodeset="/data/rep/double" calculate="../age * 2"/>'
             '<bind nodeset="/data/total" calculate="count(/data/rep)"/>')
    return (f'<h:html xmlns:h="h" xmlns:jr="j"><h:head><model><instance><data id="bench"><total/>'
            f'<rep jr:template="">{row}</rep><meta><instanceID/></meta></data></instance>{binds}'
            f'</model></h:head><h:body><repeat nodeset="/data/rep"/></h:body></h:html>')


def submission(rows, whole):
    out = [f'<data id="bench"><total>{rows}</total>']
    for r in range(rows):
        age = r % 90
        if whole:
            out.append(f"<rep><name>p{r}</name><age>{age}</age><sex>f</sex><note/>"
                       f"<double>{age * 2}</double></rep>")
        else:
            out.append(f"<rep><name>p{r}</name><age>{age}</age><double>{age * 2}</double></rep>")
    out.append("<meta><instanceID>uuid:1</instanceID></meta></data>")
    return "".join(out)


def best(fn, rounds=5):
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return min(times)


def main():
    rows = int(sys.argv[1]) if len(sys.argv) > 1 else 20000
    form = build_form()
    cases = [("whole rows", submission(rows, True)), ("rows lacking sex and note", submission(rows, False)),
             ("repeat left out", '<data id="bench"><total>0</total></data>')]
    for label, text in cases:
        found = tovarn.submission_findings(form, text)
        spent = best(lambda: tovarn.submission_findings(form, text))
        print(f"{label:<28} {spent * 1e3:9.2f} ms  {len(found):6d} findings  {len(text):9d} bytes")

    def refused():
        try:
            tovarn.submission_findings(form, "<_/>")
        except RuntimeError:
            pass

    print(f"{'fixed cost (refused)':<28} {best(refused) * 1e6:9.1f} us")


if __name__ == "__main__":
    main()
