"""Helpers the module tests share: child processes for inputs that could crash
or hang, the shared corpus, and small XForms."""

import datetime
import json
import os
import pathlib
import re
import subprocess
import sys
import textwrap

import pytest

import tovarn


def run_child(code, *args, input=None, timeout=300, env=None):
    """Runs the code in a fresh interpreter, so a crash fails one test and a
    hang meets the timeout; `env` adds to the environment it inherits."""
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code), *args], input=input,
                          capture_output=True, text=True, timeout=timeout,
                          env=None if env is None else {**os.environ, **env})


def in_child(code, timeout=300):
    """Runs the code in a fresh interpreter and returns what it printed."""
    run = run_child(code, timeout=timeout)
    assert run.returncode == 0, run.stderr[-3000:]
    return run.stdout.splitlines()


def records_from_child(code, jobs, timeout=600):
    """Hands the jobs to the code as JSON on stdin and returns the JSON records
    it printed, one a line; a failure shows the last record reached."""
    done = run_child(code, input=json.dumps(jobs), timeout=timeout)
    records = [json.loads(line) for line in done.stdout.splitlines()]
    assert done.returncode == 0, (records[-1:] if records else None, done.stderr[-2000:])
    return records


REPO = pathlib.Path(__file__).resolve().parents[2]
# Beside the checkout, or beside the folder of worktrees.
CORPUS = next((p / "shared" / "corpus" for p in REPO.parents if (p / "shared" / "corpus").is_dir()),
              REPO.parent / "shared" / "corpus")


def missing(reason):
    """Skips the test for something absent here, or fails it under CI, which
    must not pass without it."""
    if os.environ.get("CI"):
        pytest.fail(reason)
    pytest.skip(reason)


@pytest.fixture
def corpus():
    """The shared corpus; where it is absent, the reason names the folder."""
    if not CORPUS.is_dir():
        missing(f"the shared corpus is absent: no folder {CORPUS}")
    return CORPUS

HEAD = ('<h:html xmlns="http://www.w3.org/2002/xforms" xmlns:h="http://www.w3.org/1999/xhtml"'
        ' xmlns:jr="http://openrosa.org/javarosa"><h:head><h:title>t</h:title><model>')
TAIL = '</model></h:head><h:body/></h:html>'
DECL = "<?xml version='1.0' ?>"


def xform(binds, instance="<data><q/></data>", extra=""):
    """An XForm of one primary instance, what else the model holds, and the binds."""
    return f"{HEAD}<instance>{instance}</instance>{extra}{binds}{TAIL}"


def xml(session):
    return session.instance_xml().removeprefix(DECL)


def refusal(expression, xml="<data/>"):
    """The message eval_expression raises for the expression."""
    with pytest.raises(RuntimeError) as e:
        tovarn.eval_expression(expression, xml)
    return str(e.value)


def not_implemented(name):
    return f"{name}() is not implemented yet \u2014 tovarn refuses to guess at a value the form will act on"


class Index:
    """An index that runs the action when the module asks for its value."""

    def __init__(self, action):
        self.action = action

    def __index__(self):
        return self.action()


# What the engine's clock texts are checked against: the machine's local clock,
# read by Python just before and just after the call.
LOCAL_DATE = "<the local date>"
LOCAL_NOW = "<the local date-time>"
NOW_FORM = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}(Z|[+-]\d\d:\d\d)")


def local_clock_names(texts, before, after):
    """The texts, with each that is the local date or date-time of some moment
    from `before` to `after` (aware datetimes) named LOCAL_DATE or LOCAL_NOW;
    every other text unchanged. A date-time must be written to the
    millisecond, with its offset, and "Z" for none."""
    def name(text):
        if text in (before.date().isoformat(), after.date().isoformat()):
            return LOCAL_DATE
        if not NOW_FORM.fullmatch(text):
            return text
        zulu = text.endswith("Z")
        read = datetime.datetime.fromisoformat(text.removesuffix("Z") + ("+00:00" if zulu else ""))
        offset = read.utcoffset()
        if (offset == datetime.timedelta(0)) != zulu or offset not in (before.utcoffset(), after.utcoffset()):
            return text
        earliest = before.replace(microsecond=before.microsecond // 1000 * 1000)
        return LOCAL_NOW if earliest <= read <= after else text
    return tuple(name(t) for t in texts)


def local_clock_texts(call):
    """Runs call(), which gives clock texts, and names those of the local
    clock as local_clock_names does."""
    before = datetime.datetime.now().astimezone()
    texts = call()
    after = datetime.datetime.now().astimezone()
    return local_clock_names(texts, before, after)
