"""Prints what a form's own rules say about a submission.

    python3 examples/judge.py FORM SUBMISSION

FORM and SUBMISSION are paths to XML files (or the XML itself).
"""

import sys

import tovarn


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    findings = tovarn.submission_findings(argv[1], argv[2])
    for finding in findings:
        print(f"{finding['kind']:<13}  {finding['says']}")
    if not findings:
        print("the submission satisfies every rule of the form")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
