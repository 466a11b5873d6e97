"""The shared helpers' own behaviour where a test run depends on it."""

import datetime
import os
import subprocess
import sys

import pytest

import tovarn
from support import LOCAL_DATE, LOCAL_NOW, REPO, local_clock_names

NEEDS_CORPUS = """
import pathlib
import support
from support import corpus

support.CORPUS = pathlib.Path("/nonexistent/shared/corpus")

def test_needs_corpus(corpus):
    pass
"""


@pytest.mark.parametrize("ci, returncode, line", [
    (None, 0, "SKIPPED [1] test_needs.py:8: the shared corpus is absent: no folder /nonexistent/shared/corpus"),
    ("true", 1, "ERROR test_needs.py::test_needs_corpus - Failed: the shared corpus is absent: "
                "no folder /nonexistent/shared/corpus"),
], ids=["skipped-with-reason", "failed-under-ci"])
def test_missing_corpus(tmp_path, ci, returncode, line):
    (tmp_path / "test_needs.py").write_text(NEEDS_CORPUS)
    env = {k: v for k, v in os.environ.items() if k != "CI"}
    env["PYTHONPATH"] = os.pathsep.join([str(REPO / "tests" / "python"), os.path.dirname(tovarn.__file__)])
    if ci:
        env["CI"] = ci
    run = subprocess.run([sys.executable, "-m", "pytest", "-q", "-rfEs", "-p", "no:cacheprovider", "test_needs.py"],
                         cwd=tmp_path, env=env, capture_output=True, text=True, timeout=120)
    assert run.returncode == returncode, run.stdout
    assert line in run.stdout.splitlines(), run.stdout


PARIS = datetime.timezone(datetime.timedelta(hours=1))
BEFORE = datetime.datetime(2024, 12, 31, 23, 59, 59, 999_700, PARIS)
AFTER = datetime.datetime(2025, 1, 1, 0, 0, 0, 1_500, PARIS)


@pytest.mark.parametrize("text, name", [
    ("2024-12-31", LOCAL_DATE),
    ("2025-01-01", LOCAL_DATE),
    ("2024-12-30", "2024-12-30"),
    ("2024-12-31T23:59:59.999+01:00", LOCAL_NOW),
    ("2025-01-01T00:00:00.001+01:00", LOCAL_NOW),
    ("2024-12-31T22:59:59.999Z", "2024-12-31T22:59:59.999Z"),
    ("2024-12-31T23:59:59.998+01:00", "2024-12-31T23:59:59.998+01:00"),
    ("2025-01-01T00:00:00.002+01:00", "2025-01-01T00:00:00.002+01:00"),
    ("2024-12-31T23:59:59+01:00", "2024-12-31T23:59:59+01:00"),
    ("2024-12-31T23:59:59.999+0100", "2024-12-31T23:59:59.999+0100"),
], ids=["date-before", "date-after", "other-date", "now-before", "now-after", "other-offset",
        "too-early", "too-late", "no-millis", "offset-without-colon"])
def test_local_clock_names(text, name):
    assert local_clock_names([text], BEFORE, AFTER) == (name,)


@pytest.mark.parametrize("text, name", [
    ("2024-06-01T12:00:00.000Z", LOCAL_NOW),
    ("2024-06-01T12:00:00.000+00:00", "2024-06-01T12:00:00.000+00:00"),
], ids=["zulu", "zero-offset-written-out"])
def test_local_clock_names_at_utc(text, name):
    moment = datetime.datetime(2024, 6, 1, 12, 0, 0, 0, datetime.timezone.utc)
    assert local_clock_names([text], moment, moment) == (name,)
