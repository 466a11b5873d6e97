"""The shared helpers' own behaviour where a test run depends on it."""

import os
import subprocess
import sys

import pytest

import tovarn
from support import REPO

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
