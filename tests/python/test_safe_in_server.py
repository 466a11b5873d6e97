"""What a server needs of the module: no source blocks for ever, no rule
overflows a small thread stack, and a signal handler that raises ends any long
call, leaving a Session as it was. Each runs in a child process, so that a
regression fails its test instead of hanging or killing the suite."""

import pathlib
import subprocess
import sys

import pytest

from support import run_child

# Puts a bound on the child: past it, faulthandler prints where it hung and
# exits, so a regression reads as a failure with its stack.
BOUND = """
import faulthandler, os, signal, sys, threading, time
import tovarn
faulthandler.dump_traceback_later({seconds}, exit=True)
"""


# A thread that counts ticks while the lock is left to it. Without forced
# switches, a thread that keeps the lock through a call lets it make none.
TICKER = """
sys.setswitchinterval(1000)
ticks = []
stop = threading.Event()
def tick():
    while not stop.wait(0.01):
        ticks.append(None)
ticker = threading.Thread(target=tick)
"""


def child(code, seconds=5, input=None):
    run = run_child(BOUND.format(seconds=seconds) + code, input=input, timeout=60)
    assert run.returncode == 0, (run.returncode, run.stdout[-2000:], run.stderr[-3000:])
    return run.stdout.splitlines()


def test_fifo_without_writer_reads_as_empty():
    # Every entry point that reads a source, each ending in the refusal of an
    # empty source rather than waiting for a writer.
    out = child("""
import tempfile
folder = tempfile.mkdtemp()
path = os.path.join(folder, "fifo")
os.mkfifo(path)
calls = [
    lambda: tovarn.eval_expression("1", path),
    lambda: tovarn.submission_findings(path, "<data/>"),
    lambda: tovarn.check_form(path),
    lambda: tovarn.Session(path),
]
for call in calls:
    try:
        call()
    except RuntimeError as e:
        print(type(e).__name__, e)
""", seconds=1)
    assert len(out) == 4
    assert all(line.startswith("RuntimeError") for line in out), out


@pytest.mark.parametrize("source", ["/dev/stdin", "/proc/self/fd/0"])
def test_silent_pipe_is_ended_by_an_alarm_handler(source):
    # stdin is a pipe whose writer, this process, stays silent and open.
    code = TICKER + f"""
ticks_then = []
def on_alarm(*_):
    ticks_then.append(len(ticks))
    raise TimeoutError("watchdog")
signal.signal(signal.SIGALRM, on_alarm)
ticker.start()
signal.setitimer(signal.ITIMER_REAL, 0.3)
before = len(ticks)
try:
    tovarn.eval_expression("1", {source!r})
except TimeoutError as e:
    # The ticks made while the call waited, counted by the handler that ends
    # it: none unless the wait left the lock to other threads.
    print("TimeoutError", e, ticks_then[0] - before > 0)
stop.set()
ticker.join()
"""
    with subprocess.Popen([sys.executable, "-c", BOUND.format(seconds=1) + code],
                          stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True) as process:
        # The pipe stays open and silent until the child is done.
        try:
            process.wait(timeout=60)
        finally:
            process.kill()
        stdout, stderr = process.stdout.read(), process.stderr.read()
    assert process.returncode == 0, stderr[-3000:]
    assert stdout.splitlines() == ["TimeoutError watchdog True"]


def test_source_larger_than_the_reader_takes_is_refused_by_name(tmp_path):
    # Sparse: nothing is written, and nothing may be reserved either.
    path = tmp_path / "huge.xml"
    with open(path, "wb") as f:
        f.truncate(5 << 30)
    out = child(f"""
for call, name in [(lambda: tovarn.eval_expression("1", {str(path)!r}), "submission"),
                   (lambda: tovarn.check_form({str(path)!r}), "form")]:
    try:
        call()
    except ValueError as e:
        print(e)
""")
    assert out == [f"{name}: could not read '{path}': XML text too large: more than 4294967294 bytes"
                   for name in ["submission", "form"]]


DEEP = """
import sys
sys.path.insert(0, {tests!r})
from support import xform
n = 999
nested = "abs(" * n + "1" + ")" * n
predicates = "/data/q" + "[/data/q" * (n - 1) + "]" * (n - 1)
instance = "<data><q>1</q></data>"
calls = {{
    "eval nested calls": lambda: tovarn.eval_expression(nested, instance),
    "eval nested predicates": lambda: tovarn.eval_expression(predicates, instance),
    "judge": lambda: tovarn.submission_findings(
        xform(f'<bind nodeset="/data/q" constraint="{{predicates}}"/>', instance), instance),
    "check_form": lambda: tovarn.check_form(
        xform(f'<bind nodeset="/data/q" constraint="{{predicates}}"/>', instance)),
    "recompute": lambda: tovarn.Session(
        xform(f'<bind nodeset="/data/q" calculate="{{predicates}}"/>', instance)).recompute(),
    "session path": lambda: tovarn.Session(xform('<bind nodeset="/data/q" required="true()"/>', instance)).get(predicates),
}}
"""


@pytest.mark.parametrize("kib", [64, 256, 512])
def test_deep_rules_on_small_thread_stacks(kib):
    tests = str(pathlib.Path(__file__).parent)
    out = child(DEEP.format(tests=tests) + f"""
threading.stack_size({kib} * 1024)
results = []
def run():
    for name, call in calls.items():
        try:
            call()
            results.append(name + ": answered")
        except (RuntimeError, ValueError) as e:
            results.append(name + ": " + ("refused" if "nests deeper than" in str(e) else str(e)))
worker = threading.Thread(target=run)
worker.start()
worker.join()
print("\\n".join(results))
""", seconds=60)
    assert len(out) == 6, out
    for line in out:
        assert line.endswith((": answered", ": refused")), line


def test_calls_on_many_threads_answer_as_on_one():
    # Large inputs (megabyte documents, whose buffers each thread keeps for
    # its next call) between small ones, on threads that start and end, so
    # calls read into buffers that other calls, here or on an ended thread,
    # left dirty; every answer must still be what one thread gives.
    tests = str(pathlib.Path(__file__).parent)
    out = child(f"""
import sys
sys.path.insert(0, {tests!r})
from support import xform
from concurrent.futures import ThreadPoolExecutor

def job(n):
    fields = "".join(f"<f{{i}}>{{i % 10}}</f{{i}}>" for i in range(n))
    binds = "".join(
        f'<bind nodeset="/data/f{{i}}" constraint=". &gt; {{i % 7}}" required="true()"'
        + (f' calculate="concat(/data/f{{i + 1}}, \\'x\\')"' if i + 1 < n else "") + "/>"
        for i in range(n))
    form = xform(binds, f"<data>{{fields}}</data>")
    submission = f"<data>{{fields}}</data>"
    return [lambda: tovarn.submission_findings(form, submission),
            lambda: tovarn.check_form(form),
            lambda: tovarn.eval_expression("count(//*[. = //*[. > 3]]) + sum(//*)", submission)]

calls = [call for n in (3, 2500, 7, 6000, 1) for call in job(n)]
expected = [call() for call in calls]
for workers in (2, 4, 8):
    for _ in range(3):
        with ThreadPoolExecutor(workers) as pool:
            got = list(pool.map(lambda call: call(), calls * 2))
        print(workers, got == expected * 2)
""", seconds=50)
    assert out == [f"{workers} True" for workers in (2, 4, 8) for _ in range(3)]


# A cubic rule over a small text (left at its first poll), a quadratic one
# over a large text, and the small text read from a file (both left at once):
# each call takes a fraction of a second.
SMALL = "<data>" + "<a>1</a>" * 200 + "</data>"
CUBIC = "count(/data/a[count(../a[count(../a[. = 1]) > 0]) > 0])"
LARGE = "<data>" + "<a>1</a>" * 4000 + "</data>"
QUADRATIC = "count(/data/a[count(../a[. = 1]) > 0])"


@pytest.mark.parametrize("expression, source", [(CUBIC, SMALL), (QUADRATIC, LARGE),
                                                (CUBIC, "file")],
                         ids=["small text", "large text", "file"])
def test_long_calls_on_threads_run_together_and_leave_the_lock(tmp_path, expression, source):
    if source == "file":
        source = tmp_path / "small.xml"
        source.write_text(SMALL)
    out = child(TICKER + f"""
events = []
def run():
    before = len(ticks)
    events.append(+1)
    tovarn.eval_expression({expression!r}, {str(source)!r})
    events.append(-1)
    events.append(len(ticks) - before)
ticker.start()
workers = [threading.Thread(target=run) for _ in range(3)]
for worker in workers:
    worker.start()
for worker in workers:
    worker.join()
stop.set()
ticker.join()
# Calls under way at once, which is one if each kept the lock to the end.
running = [sum(e for e in events[:i + 1] if e in (+1, -1)) for i in range(len(events))]
print("together", max(running))
print("ticked during each", [e for e in events if e not in (+1, -1)].count(0) == 0)
""", seconds=60)
    assert out[0] != "together 1" and out[1:] == ["ticked during each True"], out


def test_short_calls_on_many_threads_answer_as_on_one():
    # Short calls keep the lock and give it up to the long ones between them
    # that wait to take it back; every call still answers, or raises, as on
    # one thread.
    tests = str(pathlib.Path(__file__).parent)
    out = child(f"""
import sys
sys.path.insert(0, {tests!r})
from support import xform
from concurrent.futures import ThreadPoolExecutor

submission = "<data><q>4</q><r>x</r></data>"
form = xform('<bind nodeset="/data/q" constraint=". &gt; 5"/>'
             '<bind nodeset="/data/r" required="true()" calculate="concat(/data/q, 1)"/>',
             "<data><q/><r/></data>")
rows = "<data>" + "<a>1</a>" * 600 + "</data>"
calls = [
    lambda: tovarn.eval_expression("/data/q * 2", submission),
    lambda: tovarn.eval_expression("concat(/data/r, /data/q)", submission),
    lambda: tovarn.eval_expression("1 +", submission),
    lambda: tovarn.eval_expression("count(/data/a[count(../a[. = 1]) > 0])", rows),
    lambda: tovarn.submission_findings(form, submission),
    lambda: tovarn.submission_findings(form, "<other/>"),
    lambda: tovarn.check_form(form),
]

def outcome(call):
    try:
        return repr(call())
    except Exception as e:
        return type(e).__name__ + ": " + str(e)

expected = [outcome(call) for call in calls]
for workers in (2, 8):
    with ThreadPoolExecutor(workers) as pool:
        got = list(pool.map(outcome, calls * 200))
    print(workers, got == expected * 200)
""", seconds=50)
    assert out == ["2 True", "8 True"]


def test_deep_rule_on_the_main_thread_keeps_the_limit():
    out = child("""
try:
    tovarn.eval_expression("abs(" * 1001 + "1" + ")" * 1001, "<a/>")
except RuntimeError as e:
    print(e)
print(tovarn.eval_expression("abs(" * 999 + "-1" + ")" * 999, "<a/>"))
""")
    assert out == ["expression nests deeper than 1000 levels", "1"]


# The long calls: quadratic, with many small evaluations, each a few seconds.
LONG = """
import sys
sys.path.insert(0, {tests!r})
from support import xform
rows = "<a>1</a>" * 6000
instance = f"<data><r/>{{rows}}</data>"
slow = "count(../a[. = 1]) > 0"
form = xform('<bind nodeset="/data/r" calculate="1 + 1"/>'
             f'<bind nodeset="/data/a" constraint="{{slow}}"/>', instance)

import signal
import subprocess
# A shell that starts the suite in the background leaves SIGINT ignored, and
# Python then installs no handler of its own.
signal.signal(signal.SIGINT, signal.default_int_handler)
# From another process: a Session method keeps the lock, so no thread of this
# one could send it. The monotonic clock is the machine's, so both read it.
SENDER = ("import os, signal, sys, time; time.sleep(0.3); print(time.monotonic(), flush=True); "
          "os.kill(int(sys.argv[1]), signal.SIGINT)")

def delay(call):
    sender = subprocess.Popen([sys.executable, "-c", SENDER, str(os.getpid())],
                              stdout=subprocess.PIPE, text=True)
    try:
        call()
        return "finished"
    except KeyboardInterrupt:
        return time.monotonic() - float(sender.stdout.readline())
    finally:
        sender.wait()
"""


def test_sigint_ends_long_calls_and_leaves_the_session_as_it_was():
    tests = str(pathlib.Path(__file__).parent)
    out = child(LONG.format(tests=tests) + """
session = tovarn.Session(form, instance)
before = session.instance_xml()
# A small text keeps the lock until the call's first poll.
small = "<data>" + "<a>1</a>" * 1500 + "</data>"
cubic = "count(/data/a[count(../a[" + slow + "]) > 0])"
delays = {
    "eval": delay(lambda: tovarn.eval_expression("count(/data/a[" + slow + "])", instance)),
    "eval small": delay(lambda: tovarn.eval_expression(cubic, small)),
    "judge": delay(lambda: tovarn.submission_findings(form, instance)),
    "recompute": delay(session.recompute),
}
for name, seconds in delays.items():
    print(name, seconds if seconds == "finished" else seconds < 0.2)
print("unchanged", session.instance_xml() == before)
# Nothing half-done is left to get in the way of the next call.
print("calculated", session.recompute()["calculated"])
""", seconds=120)
    assert out == ["eval True", "eval small True", "judge True", "recompute True", "unchanged True",
                   "calculated {'/data/r': '2'}"]
