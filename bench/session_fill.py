"""Answers per second of a live filling session: a form of 50 questions and
a repeat of 100 rows is filled answer by answer, and the form's logic is
recomputed after each answer, as an editor does on every change.

    PYTHONPATH=build/python /usr/bin/python3 bench/session_fill.py [ROUNDS]

The questions carry requiredness, constraints, relevance on the previous
answer and a few calculations (a running total among them); each row has
two answers, a relevance, a constraint and a calculation, and a filter on a
small secondary instance keeps choices() honest. Last, set() alone on forms
ten and a hundred times larger shows that an answer costs the same on each.
"""

import sys
import time

import tovarn

QUESTIONS = 50
ROWS = 100


def build_form(questions=QUESTIONS):
    fields = "".join(f"<q{i}/>" for i in range(1, questions + 1))
    binds = []
    for i in range(1, questions + 1):
        rules = [f'nodeset="/data/q{i}"', 'type="int"']
        if i % 10 == 0:
            rules.append(f'calculate="/data/q{i - 1} + /data/q{i - 2}"')
        else:
            rules.append('constraint=". &gt;= 0 and . &lt; 1000"')
            rules.append('jr:constraintMsg="between 0 and 999"')
            if i % 3 == 0:
                rules.append('required="true()"')
            if i > 1 and i % 4 == 0:
                rules.append(f'relevant="/data/q{i - 1} != \'\'"')
        binds.append("<bind " + " ".join(rules) + "/>")
    binds.append('<bind nodeset="/data/total" calculate="sum(/data/rep/double)"/>')
    binds.append('<bind nodeset="/data/rep/name" required="true()"/>')
    binds.append('<bind nodeset="/data/rep/age" relevant="../name != \'\'" '
                 'constraint=". &lt; 130" required="true()"/>')
    binds.append('<bind nodeset="/data/rep/double" calculate="../age * 2"/>')
    items = "".join(f"<item><name>c{k}</name><group>{k % 5}</group></item>" for k in range(40))
    return f"""<h:html xmlns="http://www.w3.org/2002/xforms" xmlns:h="http://www.w3.org/1999/xhtml"
  xmlns:jr="http://openrosa.org/javarosa">
<h:head><h:title>bench</h:title><model>
<instance><data id="bench">{fields}<city/><total/>
<rep jr:template=""><name/><age/><double/></rep><meta><instanceID/></meta></data></instance>
<instance id="cities"><root>{items}</root></instance>
{"".join(binds)}
</model></h:head>
<h:body><select1 ref="/data/city"><itemset nodeset="instance('cities')/root/item[group = /data/q1 mod 5]">
<value ref="name"/><label ref="name"/></itemset></select1></h:body></h:html>"""


def fill(form):
    session = tovarn.Session(form, today="2024-05-01")
    for _ in range(ROWS):
        session.add_row("/data/rep")
    answers = []
    for i in range(1, QUESTIONS + 1):
        if i % 10:
            answers.append((f"/data/q{i}", str(i * 7 % 900)))
    for r in range(1, ROWS + 1):
        answers.append((f"/data/rep[{r}]/name", f"person {r}"))
        answers.append((f"/data/rep[{r}]/age", str(r % 90)))
    start = time.perf_counter()
    for path, value in answers:
        session.set(path, value)
        result = session.recompute()
    spent = time.perf_counter() - start
    assert not result["failed"], result["failed"]
    assert result["repeats"] == {"/data/rep": ROWS}
    return len(answers), spent, session


def set_alone(questions, rows):
    """Microseconds per set() of an existing answer, with no recompute."""
    session = tovarn.Session(build_form(questions))
    for _ in range(rows):
        session.add_row("/data/rep")
    paths = [f"/data/q{questions}", f"/data/rep[{rows}]/age"]
    n = 20000
    start = time.perf_counter()
    for k in range(n):
        session.set(paths[k & 1], str(k))
    return (time.perf_counter() - start) / n * 1e6


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 3
    form = build_form()
    best = None
    for _ in range(rounds):
        answers, spent, session = fill(form)
        best = spent if best is None else min(best, spent)
    per_answer = best / answers
    print(f"{answers} answers, each followed by recompute(): "
          f"{answers / best:,.0f} answers/s, {per_answer * 1e3:.3f} ms per answer")
    start = time.perf_counter()
    n = 200
    for _ in range(n):
        session.choices("/data/city")
    print(f"choices(): {(time.perf_counter() - start) / n * 1e6:.1f} us per call")
    print(f"instance: {repr(session)}")
    for questions, rows in ((QUESTIONS, ROWS), (10 * QUESTIONS, 10 * ROWS), (100 * QUESTIONS, 100 * ROWS)):
        print(f"set() alone, {questions} questions and {rows} rows: "
              f"{set_alone(questions, rows):.2f} us per answer")


if __name__ == "__main__":
    main()
