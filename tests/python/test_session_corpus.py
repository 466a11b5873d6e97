"""Every real form of the shared corpus filled as a Session: recomputed, a row
added to each repeat, its choices listed, written out and read back as a saved
instance. Nothing crashes, no template attribute is written, and the saved
instance loses no row. Each source runs in a child process."""

import pytest

from support import CORPUS, corpus, records_from_child  # noqa: F401 (corpus is a fixture)

pytestmark = pytest.mark.usefixtures("corpus")

CHILD = r"""
import json, re, sys, tovarn
KEYS = ["calculated", "relevant", "missing", "invalid", "failed", "repeats"]
for form in json.loads(sys.stdin.read()):
    try:
        s = tovarn.Session(form, today="2024-01-01", now="2024-01-01T00:00:00.000Z")
    except RuntimeError as e:
        print(json.dumps({"form": form, "refused": str(e)}), flush=True)
        continue
    assert list(s.recompute()) == KEYS
    # Inner repeats first: a row added to an outer repeat renames the keys of
    # the repeats inside it. An outer row brings rows of its inner repeats
    # along, so each is counted anew.
    for key in sorted(s.recompute()["repeats"], key=lambda k: -k.count("/")):
        rows = s.recompute()["repeats"][key]
        try:
            assert s.add_row(key) == rows + 1, key
        except ValueError as e:
            message = str(e)
            assert message == f"'{key}' has nowhere to hang" or (
                message.startswith(f"'{key}' points at ")
                and message.endswith(", which does not exist \u2014 add the row first with add_row()")), e
    text = open(form, encoding="utf-8").read()
    for ref in sorted(set(re.findall(r'ref="([^"]+)"', text))):
        listed = s.choices(ref)
        assert listed is None or all(list(c) == ["value", "label"] for c in listed), ref
    saved = s.instance_xml()
    assert re.search(r'\stemplate="', saved) is None, form
    again = tovarn.Session(form, instance=saved)
    assert again.recompute()["repeats"] == s.recompute()["repeats"], form
    print(json.dumps({"form": form}), flush=True)
"""


def forms_by_source():
    sources = {}
    for path in sorted((CORPUS / "forms").rglob("*.xml")):
        sources.setdefault(path.relative_to(CORPUS / "forms").parts[0], []).append(str(path))
    return sources


SOURCES = forms_by_source() if CORPUS.is_dir() else {}


@pytest.mark.parametrize("source", sorted(SOURCES) or ["none"])
def test_corpus_sessions(source):
    forms = SOURCES.get(source)
    if not forms:
        pytest.skip("no forms")
    records = records_from_child(CHILD, forms)
    assert [r["form"] for r in records] == forms
