#!/usr/bin/python3
"""Times eval_expression over the shared bind-expression workload against lxml.

Each "call" is one eval_expression(expression, submission) call: parse the
submission, parse the expression, evaluate, convert to the string value. lxml
does the same work per expression: parse the submission, compile the XPath,
evaluate it at the root element and convert the result to its string value.

    PYTHONPATH=build/python /usr/bin/python3 bench/eval_workload.py [workload.json]
"""

import json
import math
import statistics
import sys
import time

import tovarn
from lxml import etree

DEFAULT_WORKLOAD = "/work/shared/bench/workload.json"
# Rounds of the whole expression list; each timing is one call.
ROUNDS = 200
# Where the engine deliberately differs from XPath 1.0 engines: expected value
# and why.
KNOWN_DIFFERENCES = {
    "count_all": ("542", "there is no document node above the root element, so // never "
                         "yields the root itself"),
}


def lxml_string(result):
    """The XPath string value of an lxml result, printed as the engine prints."""
    if isinstance(result, bool):
        return "true" if result else "false"
    if isinstance(result, float):
        if math.isnan(result):
            return "NaN"
        if math.isinf(result):
            return "Infinity" if result > 0 else "-Infinity"
        if result == int(result) and abs(result) < 1e21:
            return str(int(result))
        return repr(result)
    if isinstance(result, list):
        if not result:
            return ""
        first = result[0]
        if isinstance(first, str):
            return str(first)
        return "".join(first.itertext())
    return str(result)


def lxml_call(expression, submission):
    root = etree.fromstring(submission)
    return lxml_string(etree.XPath(expression)(root))


def tovarn_call(expression, submission, today, now):
    return tovarn.eval_expression(expression, submission, today=today, now=now)


def time_calls(fn, expressions, rounds):
    """Per-call times in seconds, and the total wall time."""
    times = []
    start = time.perf_counter()
    for _ in range(rounds):
        for expression in expressions:
            t0 = time.perf_counter()
            fn(expression)
            times.append(time.perf_counter() - t0)
    return times, time.perf_counter() - start


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else DEFAULT_WORKLOAD
    with open(path, encoding="utf-8") as f:
        workload = json.load(f)
    submission = workload["submission"].encode("utf-8")
    submission_text = workload["submission"]
    today, now = workload["today"], workload["now"]
    cases = workload["expressions"]
    expressions = [c["expression"] for c in cases]

    wrong = 0
    for c in cases:
        try:
            got = tovarn_call(c["expression"], submission_text, today, now)
        except Exception as e:  # noqa: BLE001 - reported, then counted
            got = f"{type(e).__name__}: {e}"
        known = KNOWN_DIFFERENCES.get(c["id"])
        if known and got == known[0]:
            print(f"known difference {c['id']}: {got!r}, not {c['expected']!r}: {known[1]}")
        elif got != c["expected"]:
            wrong += 1
            print(f"MISMATCH {c['id']}: {c['expression']!r} gave {got!r}, expected {c['expected']!r}")
        lxml_got = lxml_call(c["expression"], submission)
        if lxml_got != c["expected"]:
            print(f"note: lxml gives {lxml_got!r} for {c['id']}")
    if wrong:
        print(f"{wrong} of {len(cases)} expressions gave the wrong value")
        return 1

    tovarn_times, tovarn_total = time_calls(
        lambda e: tovarn_call(e, submission_text, today, now), expressions, ROUNDS)
    lxml_times, lxml_total = time_calls(lambda e: lxml_call(e, submission), expressions, ROUNDS)

    calls = len(tovarn_times)
    t_median = statistics.median(tovarn_times) * 1e6
    l_median = statistics.median(lxml_times) * 1e6
    print(f"workload {workload['name']}: {len(expressions)} expressions x {ROUNDS} rounds, "
          f"submission {len(submission)} bytes")
    print(f"tovarn  {calls / tovarn_total:10.0f} calls/s   median {t_median:8.1f} us per call")
    print(f"lxml    {calls / lxml_total:10.0f} calls/s   median {l_median:8.1f} us per call")
    print(f"ratio   {l_median / t_median:10.2f}x faster per call (median), "
          f"{lxml_total / tovarn_total:.2f}x in total")

    extra = workload.get("odk_only_expressions", [])
    if extra:
        # The engine refuses some functions by design (date(), for one); those
        # are listed, and the others timed.
        accepted, refused = [], []
        for expression in extra:
            try:
                tovarn_call(expression, submission_text, today, now)
                accepted.append(expression)
            except Exception as e:  # noqa: BLE001 - reported, then left out
                refused.append((expression, f"{type(e).__name__}: {e}"))
        if accepted:
            times, _ = time_calls(
                lambda e: tovarn_call(e, submission_text, today, now), accepted, ROUNDS)
            print(f"form functions ({len(accepted)} of {len(extra)} expressions, tovarn only): "
                  f"median {statistics.median(times) * 1e6:.1f} us per call")
        for expression, error in refused:
            print(f"form function refused: {expression!r}: {error}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
