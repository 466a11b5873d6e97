import os

import pytest

import tovarn


def could_not_read(name, argument, reason):
    return f"{name}: could not read '{argument}': {reason}"


def missing(argument):
    return could_not_read("submission", argument, "No such file or directory (os error 2)")


@pytest.fixture
def invalid_utf8(tmp_path):
    path = tmp_path / "bad.xml "
    path.write_bytes(b"<data>\xff</data>")
    return str(path)


@pytest.mark.parametrize(
    "argument, message",
    [
        ("", missing("")),
        ("data.xml", missing("data.xml")),
        ("\ufeff x<data/>", missing("\ufeff x<data/>")),
        ("  /no/such/file.xml ", missing("  /no/such/file.xml ")),
        (" x <data/>", missing(" x <data/>")),
        (
            "a\0b",
            could_not_read("submission", "a\0b", "file name contained an unexpected NUL byte"),
        ),
        ("/", could_not_read("submission", "/", "Is a directory (os error 21)")),
        ("/dev/zero", could_not_read("submission", "/dev/zero", "not a regular file")),
        ("/dev/null", could_not_read("submission", "/dev/null", "not a regular file")),
    ],
    ids=["empty", "relative", "byte-order-mark-then-text", "untrimmed", "text-before-tag", "nul", "directory",
         "endless-device", "null-device"],
)
def test_unreadable_submission(argument, message):
    with pytest.raises(ValueError) as e:
        tovarn.eval_expression("1", argument)
    assert type(e.value) is ValueError
    assert str(e.value) == message
    assert e.value.args == (message,)


def test_invalid_utf8_file_is_refused(invalid_utf8):
    # The trailing blank is part of the file's name: paths are never trimmed.
    with pytest.raises(ValueError) as e:
        tovarn.eval_expression("1", invalid_utf8)
    assert str(e.value) == could_not_read(
        "submission", invalid_utf8, "stream did not contain valid UTF-8"
    )


@pytest.mark.parametrize(
    "call, message",
    [
        (
            lambda: tovarn.check_form(""),
            could_not_read("form", "", "No such file or directory (os error 2)"),
        ),
        (
            lambda: tovarn.submission_findings("nope.xml", "gone.xml"),
            could_not_read("form", "nope.xml", "No such file or directory (os error 2)"),
        ),
        (
            lambda: tovarn.submission_findings("<h:html", "gone.xml"),
            could_not_read("submission", "gone.xml", "No such file or directory (os error 2)"),
        ),
        (
            lambda: tovarn.Session(form="missing.xml", instance="gone.xml"),
            could_not_read("form", "missing.xml", "No such file or directory (os error 2)"),
        ),
        (
            lambda: tovarn.Session("<h:html/>", instance="gone.xml"),
            could_not_read("instance", "gone.xml", "No such file or directory (os error 2)"),
        ),
    ],
    ids=["check-form", "form-before-submission", "both-resolved-before-reading", "session-form",
         "session-instance"],
)
def test_source_names(call, message):
    with pytest.raises(ValueError) as e:
        call()
    assert str(e.value) == message


@pytest.mark.parametrize(
    "submission",
    [" \n <data><a>x</a></data>", "\u3000<data><a>x</a></data>"],
    ids=["ascii-blanks", "unicode-blank"],
)
def test_xml_text_after_white_space(submission):
    assert tovarn.eval_expression("/data/a", submission) == "x"


@pytest.mark.parametrize(
    "submission",
    ["\ufeff<data><a>x</a></data>", "\ufeff\r\n <data><a>x</a></data>",
     "\ufeff\u3000<data><a>x</a></data>"],
    ids=["mark-then-tag", "mark-then-blanks", "mark-then-unicode-blank"],
)
def test_xml_text_after_byte_order_mark(submission):
    assert tovarn.eval_expression("/data/a", submission) == "x"


def test_file_with_byte_order_mark(tmp_path):
    path = tmp_path / "marked.xml"
    path.write_bytes(b"\xef\xbb\xbf<data><a>x</a></data>")
    assert tovarn.eval_expression("/data/a", str(path)) == "x"
    # As read with encoding="utf-8", the text keeps the mark; it is XML text still.
    assert tovarn.eval_expression("/data/a", path.read_text(encoding="utf-8")) == "x"


TOO_LONG = "File name too long (os error 36)"


@pytest.mark.parametrize(
    "argument, quoted, reason",
    [
        ("d" * 200, "d" * 200, "No such file or directory (os error 2)"),
        ("d" * 201, "d" * 200 + "\u2026", "No such file or directory (os error 2)"),
        ("\u00e9" * 150 + "\U0001F600" * 100, "\u00e9" * 150 + "\U0001F600" * 50 + "\u2026", TOO_LONG),
        ("x" + "<data/>" * 700_000, "x" + ("<data/>" * 29)[:199] + "\u2026", TOO_LONG),
    ],
    ids=["200-whole", "201-cut", "cut-counts-characters", "megabytes"],
)
def test_could_not_read_quotes_at_most_200_characters(argument, quoted, reason):
    with pytest.raises(ValueError) as e:
        tovarn.eval_expression("1", argument)
    assert str(e.value) == could_not_read("submission", quoted, reason)


def test_file_and_pipe_are_read(tmp_path):
    path = tmp_path / " spaced.xml"
    path.write_text("<data><a>é</a></data>", encoding="utf-8")
    assert tovarn.eval_expression("/data/a", str(path)) == "é"

    read_end, write_end = os.pipe()
    os.write(write_end, b"<data><a>piped</a></data>")
    os.close(write_end)
    try:
        assert tovarn.eval_expression("/data/a", f"/dev/fd/{read_end}") == "piped"
    finally:
        os.close(read_end)
