"""How the module functions scale over threads: they leave the interpreter's
lock while the engine works, past its first 20 us, so a thread pool judges on
every core and short calls pay no hand-over of the lock. Runs a
fixed batch of jobs (submission_findings over the corpus's synthetic javarosa
submissions, eval_expression of two expressions over them, and check_form of
their forms) on 1, 2, 4 and 8 threads and prints the wall time and the
speed-up over one thread.

    PYTHONPATH=build/python /usr/bin/python3 bench/threads.py [ROUNDS]

Figures are only as good as the machine is idle: other processes on the
cores lower the speed-up.
"""

import csv
import os
import pathlib
import sys
import threading
import time

import tovarn

REPO = pathlib.Path(__file__).resolve().parents[1]
# Beside the checkout; a worktree of it sits one level further down.
CORPUS = next((p for p in (REPO.parent / "shared" / "corpus", REPO.parent.parent / "shared" / "corpus")
               if p.is_dir()), REPO.parent / "shared" / "corpus")
# Enough work per call that the engine, not the call around it, is measured.
# Since node-set equality is hashed, LIGHT_EXPRESSION (what EXPRESSION was)
# takes ten microseconds on most submissions: less than CPython's hand-over
# of its lock costs a call once several threads want it back, so its figure
# shows that such calls keep the lock; it is still printed, as
# eval_light_expression.
LIGHT_EXPRESSION = "count(//*[. = //*[string-length(.) > 0]]) + sum(//*[number(.) = number(.)])"
EXPRESSION = ("count(//*[count(following-sibling::*[string-length(.) > 0]) mod 2 = 0]) + "
              + LIGHT_EXPRESSION)


def judgements(limit=60):
    """(form text, submission text) pairs, the first `limit` the form judges."""
    jobs = []
    with (CORPUS / "synthetic" / "INDEX.tsv").open(newline="", encoding="utf-8") as f:
        for row in csv.DictReader(f, delimiter="\t"):
            if not row["form_local_file"].startswith("javarosa/"):
                continue
            form = (CORPUS / "forms" / row["form_local_file"]).read_text(encoding="utf-8")
            submission = (CORPUS / "synthetic" / row["synthetic_file"]).read_text(encoding="utf-8")
            try:
                tovarn.submission_findings(form, submission)
            except RuntimeError:
                continue
            jobs.append((form, submission))
            if len(jobs) == limit:
                break
    return jobs


def workloads(pairs):
    forms = list(dict.fromkeys(form for form, _ in pairs))
    return {
        "submission_findings": [lambda f=f, s=s: tovarn.submission_findings(f, s) for f, s in pairs],
        "eval_expression": [lambda s=s: tovarn.eval_expression(EXPRESSION, s) for _, s in pairs],
        "eval_light_expression": [lambda s=s: tovarn.eval_expression(LIGHT_EXPRESSION, s)
                                  for _, s in pairs],
        "check_form": [lambda f=f: tovarn.check_form(f) for f in forms],
    }


def wall_time(jobs, threads, rounds):
    """The best wall time of running every job `rounds` times, each thread
    taking the next job of the batch as a pool's workers do. The jobs differ
    a hundredfold in cost (a few forms weigh megabytes), and fixed shares of
    the batch would leave threads idle while one works through the heavy ones:
    with every fourth job of sixty, four threads could never be more than
    about three times as fast as one."""
    best = float("inf")
    for _ in range(3):
        batch = iter(jobs * rounds)  # its next() is one step under the lock

        def run():
            for job in batch:
                job()

        workers = [threading.Thread(target=run) for _ in range(threads)]
        start = time.perf_counter()
        for worker in workers:
            worker.start()
        for worker in workers:
            worker.join()
        best = min(best, time.perf_counter() - start)
    return best


def main(argv):
    if not CORPUS.is_dir():
        print(f"no corpus at {CORPUS}", file=sys.stderr)
        return 1
    rounds = int(argv[1]) if len(argv) > 1 else 20
    pairs = judgements()
    print(f"{len(pairs)} submissions, {len(set(f for f, _ in pairs))} forms, {rounds} rounds,"
          f" {os.cpu_count()} cores (load average {os.getloadavg()[0]:.1f})")
    print(f"{'workload':<22} {'threads':>7} {'wall s':>8} {'speed-up':>8}")
    for name, jobs in workloads(pairs).items():
        one = None
        for threads in (1, 2, 4, 8):
            spent = wall_time(jobs, threads, rounds)
            one = one or spent
            print(f"{name:<22} {threads:>7} {spent:>8.3f} {one / spent:>8.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
