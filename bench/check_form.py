"""Times check_form on the shared corpus, on a wide synthetic form, on a
deep instance, on many paths below a long bind path, on many repeats and on
many findings of one rule (with the peak memory each of those shapes takes,
measured in a child process). Run with the module on PYTHONPATH:
    PYTHONPATH=build/python python3 bench/check_form.py [corpus folder]
"""
import pathlib
import subprocess
import sys
import time

import tovarn


def best_of(runs, fn):
    best = float("inf")
    for _ in range(runs):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def corpus(folder):
    forms = [p.read_text(encoding="utf-8", errors="replace")
             for p in sorted(folder.rglob("*.xml"))
             if ".submission." not in p.name and "media" not in p.parts]

    def sweep():
        for text in forms:
            try:
                tovarn.check_form(text)
            except RuntimeError:
                pass

    seconds = best_of(5, sweep)
    print(f"corpus: {len(forms)} forms in {seconds * 1e3:.1f} ms "
          f"({seconds / len(forms) * 1e6:.0f} us a form)")


def wide(binds):
    instance = "".join(f"<q{i}/>" for i in range(binds))
    rules = "".join(
        f'<bind nodeset="/data/q{i}" relevant="/data/q{(i + 1) % binds} = \'yes\' and . != \'\'"'
        f' calculate="if(/data/q{i // 2} &gt; 0, floor(/data/q{i // 3}) + 1, 0)"'
        f' constraint="regex(., \'^[a-z]+$\')"/>'
        for i in range(binds))
    text = f"<h><model><instance><data>{instance}</data></instance>{rules}</model></h>"
    seconds = best_of(5, lambda: tovarn.check_form(text))
    print(f"wide: {binds} binds, {3 * binds} rules in {seconds * 1e3:.1f} ms")


def deep(depth):
    text = ("<h><model><instance><data>" + "<n>" * depth + "</n>" * depth + "</data></instance>"
            f'<bind nodeset="/data/n" calculate="/data/n/n + /data/m"/></model></h>')
    seconds = best_of(3, lambda: tovarn.check_form(text))
    print(f"deep: instance {depth} elements deep in {seconds * 1e3:.1f} ms")


def long_bind_path(depth, width):
    names = "".join(f"<c{i}/>" for i in range(width))
    instance = "<data>" + "<n>" * depth + names + "</n>" * depth + "</data>"
    path = "/data" + "/n" * depth
    rule = "concat(" + ", ".join(f"c{i}" for i in range(width)) + ")"
    text = (f"<h><model><instance>{instance}</instance>"
            f'<bind nodeset="{path}" relevant="{rule}"/></model></h>')
    seconds = best_of(3, lambda: tovarn.check_form(text))
    print(f"long bind path: {width} paths below a bind path {depth} deep in "
          f"{seconds * 1e3:.1f} ms")


def many_repeats(count):
    repeats = "".join(f'<repeat nodeset="/data/r{i}"/>' for i in range(count))
    binds = "".join(f'<bind nodeset="/data/q" relevant="/data/s{i} = 1"/>' for i in range(count))
    text = f"<h><model>{binds}</model><body>{repeats}</body></h>"
    seconds = best_of(3, lambda: tovarn.check_form(text))
    print(f"many repeats: {count} repeats, {count} comparisons in {seconds * 1e3:.1f} ms")


# One rule yields a finding per call in it, below a bind path `depth` segments
# long; the calls are all alike, alternate between two, or all differ (a
# positional predicate each, then a missing path each, whose texts hold the
# bind path and so grow with it whatever is shared).
MANY_FINDINGS = r"""
import sys, time, tovarn

def high_water_kib():
    # ru_maxrss would carry the parent's peak over the exec.
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("VmHWM:"))

depth, calls, shape = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
path = "/data" + "/n" * depth
call = {"alike": lambda i: "last()", "two": lambda i: ("last()", "floor(1)")[i % 2],
        "positions": lambda i: "x[%d]" % (i + 1), "missing": lambda i: "m%d" % i}[shape]
rule = "concat(" + ", ".join(call(i) for i in range(calls)) + ")"
text = ('<h><model><instance><data/></instance><bind nodeset="%s" relevant="%s"/></model></h>'
        % (path, rule))
before = high_water_kib()
best = float("inf")
for _ in range(3):
    start = time.perf_counter()
    found = tovarn.check_form(text)
    best = min(best, time.perf_counter() - start)
    del found
peak = high_water_kib()
print(len(text), best, (peak - before) / 1024)
"""


def many_findings(depth, calls, shape):
    run = subprocess.run([sys.executable, "-c", MANY_FINDINGS, str(depth), str(calls), shape],
                         capture_output=True, text=True, check=True)
    size, seconds, mib = run.stdout.split()
    print(f"many findings: {calls} calls ({shape}) in one rule below a bind path {depth} deep, "
          f"{int(size) // 1024} KiB form, in {float(seconds) * 1e3:.1f} ms, "
          f"peak {float(mib):.0f} MiB above the start")


if __name__ == "__main__":
    folder = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "../shared/corpus/forms")
    if folder.is_dir():
        corpus(folder)
    wide(10000)
    deep(1000000)
    long_bind_path(20000, 20000)
    many_repeats(20000)
    for depth, shape in ((1, "alike"), (20000, "alike"), (20000, "two"), (2000, "positions"),
                         (2000, "missing")):
        many_findings(depth, 10000, shape)
