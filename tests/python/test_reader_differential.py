"""tovarn's reader against libxml2's (through lxml) on every XML file of the
shared corpus that lxml reads: the same elements in document order by local
name, the same attributes other than namespace declarations, the same text."""

import json
import os
import pathlib
import re
import subprocess

import pytest

from support import CORPUS, REPO, corpus, missing  # noqa: F401 (corpus is a fixture)

etree = pytest.importorskip("lxml.etree")

pytestmark = pytest.mark.usefixtures("corpus")

# Unicode White_Space, which is what tovarn trims and calls blank.
BLANK = re.compile("[\t\n\v\f\r \x85\xa0\u1680\u2000-\u200a\u2028\u2029\u202f\u205f\u3000]*")


def tree_dump():
    tool = pathlib.Path(os.environ.get("TOVARN_BUILD", REPO / "build")) / "tree_dump"
    if not tool.is_file():
        missing(f"no tree_dump built at {tool}")
    return tool


def lxml_elements(path):
    """The elements as tovarn's dump gives them, each with its namespace map,
    or None when lxml refuses the file."""
    parser = etree.XMLParser(resolve_entities=False, no_network=True, huge_tree=True)
    try:
        root = etree.parse(str(path), parser).getroot()
    except etree.XMLSyntaxError:
        return None
    elements = []
    for e in root.iter():
        if not isinstance(e.tag, str):
            continue  # comments and instructions
        attributes = [[etree.QName(k).localname, v] for k, v in e.attrib.items()]
        text = e.text or ""
        text = "" if BLANK.fullmatch(text) else text
        elements.append(([etree.QName(e).localname, attributes, text], e.nsmap))
    return elements


def without_declarations(element, nsmap):
    """tovarn keeps namespace declarations as attributes named by their prefix
    (or "xmlns"); lxml does not count them as attributes."""
    name, attributes, text = element
    kept = [[k, v] for k, v in attributes
            if nsmap.get(None if k == "xmlns" else k, object()) != v]
    return [name, kept, text]


def test_reader_agrees_with_lxml():
    files = sorted(p for p in CORPUS.rglob("*.xml") if p.is_file())
    done = subprocess.run([str(tree_dump())], input="".join(f"{p}\n" for p in files),
                          capture_output=True, text=True, check=True, timeout=120)
    dumps = [json.loads(line) for line in done.stdout.splitlines()]
    assert len(dumps) == len(files)
    compared = 0
    disagreements = []
    for path, dump in zip(files, dumps):
        expected = lxml_elements(path)
        if expected is None:
            continue
        compared += 1
        if "error" in dump:
            disagreements.append((str(path), "refused: " + dump["error"]))
            continue
        if len(dump["elements"]) != len(expected):
            disagreements.append((str(path), f"{len(dump['elements'])} elements, lxml {len(expected)}"))
            continue
        for i, (mine, (theirs, nsmap)) in enumerate(zip(dump["elements"], expected)):
            if without_declarations(mine, nsmap) != theirs:
                disagreements.append((str(path), i, mine, theirs))
                break
    assert compared > len(files) // 2, (compared, len(files))
    assert disagreements == []
