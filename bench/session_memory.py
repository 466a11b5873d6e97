"""Resident memory of one Session across many add_row/remove_row cycles: a
form whose repeat starts with a few rows gets a row added and one removed,
over and over, so its instance never grows. Memory must not grow either.
Then the same answer is overwritten, with a recompute now and then, as an
editor does on every keystroke; that must not grow memory either.

    PYTHONPATH=build/python /usr/bin/python3 bench/session_memory.py [CYCLES]

Prints the resident set size every tenth of the way and the growth from the
first checkpoint to the last, per thousand cycles.
"""

import sys
import time

import tovarn

FORM = (
    '<h:html xmlns="http://www.w3.org/2002/xforms" xmlns:h="http://www.w3.org/1999/xhtml"'
    ' xmlns:jr="http://openrosa.org/javarosa"><h:head><h:title>memory</h:title><model>'
    "<instance><data><name/>"
    '<rep jr:template=""><who>someone</who><age>30</age><notes a="1"><n>x</n><n>y</n></notes></rep>'
    "<rep><who>a</who><age>1</age></rep><rep><who>b</who><age>2</age></rep>"
    "<total/></data></instance>"
    '<bind nodeset="/data/rep/age" type="int" constraint=". &lt; 130"/>'
    '<bind nodeset="/data/total" calculate="sum(/data/rep/age)"/>'
    "</model></h:head><h:body/></h:html>"
)


def resident_kib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS in /proc/self/status")


def main():
    cycles = int(sys.argv[1]) if len(sys.argv) > 1 else 100_000
    session = tovarn.Session(FORM)
    xml_size = len(session.instance_xml())
    checkpoints = []
    start = time.perf_counter()
    for cycle in range(1, cycles + 1):
        session.add_row("/data/rep")
        # Remove the oldest row, so each row is added and removed once.
        session.remove_row("/data/rep", 1)
        if cycle % max(1, cycles // 10) == 0:
            checkpoints.append((cycle, resident_kib()))
    elapsed = time.perf_counter() - start
    assert len(session.instance_xml()) >= xml_size - 200, "the instance lost its rows"

    print(f"{cycles} add_row/remove_row cycles in {elapsed:.2f} s "
          f"({cycles / elapsed:,.0f} cycles/s)")
    for cycle, kib in checkpoints:
        print(f"  after {cycle:>7} cycles: {kib / 1024:8.1f} MiB resident")
    (first_cycle, first), (last_cycle, last) = checkpoints[0], checkpoints[-1]
    per_thousand = (last - first) / max(1, last_cycle - first_cycle) * 1000
    print(f"growth: {per_thousand:.1f} KiB per 1000 cycles after the first checkpoint")

    answer = "a" * 1000
    before = resident_kib()
    for cycle in range(1, cycles + 1):
        session.set("/data/name", f"{answer}{cycle}")
        if cycle % 100 == 0:
            session.recompute()
    print(f"{cycles} answers of {len(answer)} bytes: "
          f"{(resident_kib() - before) / 1024:.1f} MiB more resident")


if __name__ == "__main__":
    main()
