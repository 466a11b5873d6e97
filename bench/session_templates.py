"""Construction time of a Session for forms and saved instances with many
repeat templates: side by side under the root, and nested one in another.

    PYTHONPATH=build/python /usr/bin/python3 bench/session_templates.py [N]

Side by side, and nested in a saved instance (whose templates are only
dropped), the time grows with N. Nested in the form it grows with N squared:
each template keeps a whole copy of its row, inner templates included.
"""

import sys
import time

import tovarn

HEAD = ('<h:html xmlns="http://www.w3.org/2002/xforms" xmlns:h="http://www.w3.org/1999/xhtml"'
        ' xmlns:jr="http://openrosa.org/javarosa"><h:head><h:title>templates</h:title><model>')
TAIL = '<bind nodeset="/data/q" type="string"/></model></h:head><h:body/></h:html>'


def form(instance):
    return f"{HEAD}<instance>{instance}</instance>{TAIL}"


def timed(label, **session):
    start = time.perf_counter()
    tovarn.Session(**session)
    print(f"  {label:<28} {time.perf_counter() - start:8.3f} s")


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 50_000
    side = "<data><q/>" + '<r jr:template=""><x/></r>' * n + "</data>"
    nested = ("<data><q/>" + "".join(f'<a{i} jr:template="">' for i in range(n // 50))
              + "".join(f"</a{i}>" for i in reversed(range(n // 50))) + "</data>")
    print(f"{n} templates side by side, {n // 50} nested")
    timed("side by side, in the form", form=form(side))
    timed("side by side, saved", form=form("<data><q/></data>"), instance=side)
    timed("nested, saved", form=form("<data><q/></data>"), instance=nested)
    timed("nested, in the form", form=form(nested))


if __name__ == "__main__":
    main()
