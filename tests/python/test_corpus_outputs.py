"""Every output the engine gives over the shared corpus (check_form, the
findings of each real and synthetic submission, a Session's recompute) matches
the outputs kept beside this test, line for line. A speed-up must leave them
alone; a change of behaviour writes them anew, as tools/corpus_outputs.py says."""

import gzip
import importlib.util
import json

from support import REPO, corpus  # noqa: F401 (corpus is a fixture)

KEPT = REPO / "tests" / "python" / "data" / "corpus_outputs.jsonl.gz"


def load_tool():
    found = importlib.util.spec_from_file_location("corpus_outputs", REPO / "tools" / "corpus_outputs.py")
    tool = importlib.util.module_from_spec(found)
    found.loader.exec_module(tool)
    return tool


def where(line):
    record = json.loads(line)
    return record["form"] + " " + (record.get("submission") or next(k for k in record if k != "form"))


def test_outputs_match_the_kept_ones(corpus):
    now = list(load_tool().outputs(corpus))
    kept = gzip.decompress(KEPT.read_bytes()).decode().splitlines()
    assert [where(line) for line in now] == [where(line) for line in kept], "the corpus changed"
    changed = [(where(a), a[:300], b[:300]) for a, b in zip(now, kept) if a != b]
    assert not changed, f"{len(changed)} outputs differ; the first: {changed[:3]}"
