"""The household example judges as the quick start shows."""

import os
import pathlib
import subprocess
import sys

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"


def test_household_findings():
    out = subprocess.run(
        [sys.executable, str(EXAMPLES / "judge.py"), str(EXAMPLES / "household.xml"),
         str(EXAMPLES / "household.submission.xml")],
        capture_output=True, text=True, timeout=60, env=dict(os.environ))
    assert out.returncode == 0, out.stderr
    assert out.stdout.splitlines() == [
        'calculation    /household/adults: holds "3", but the form calculates "34"',
        "required       /household/respondent: Please give the respondent's name",
        "constraint     /household/members: A household has between 1 and 30 members",
        "required       /household/school: required, and unanswered",
    ]
