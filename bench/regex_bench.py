#!/usr/bin/env python3
"""Time of one regex() call through eval_expression, by pattern. regex()
compiles its pattern on every call, so this is mostly RE2's compile time.

Run: PYTHONPATH=build/python bench/regex_bench.py
"""
import timeit

import tovarn

PATTERNS = [
    "[0-9]{10}",
    "[A-Za-z ]+",
    "\\d{10}",
    "\\s*",
    "\\w+",
    "[^\\W_]+",
    "\\p{L}+",
    "(?i)[a-z]+@[a-z]+\\.[a-z]{2,}",
]


def main():
    for pattern in PATTERNS:
        expression = f"regex('0123456789', '{pattern}')"
        tovarn.eval_expression(expression, "<data/>")
        n = 200
        seconds = timeit.timeit(lambda: tovarn.eval_expression(expression, "<data/>"), number=n)
        print(f"{pattern:34} {seconds / n * 1e6:9.1f} µs per call")


if __name__ == "__main__":
    main()
