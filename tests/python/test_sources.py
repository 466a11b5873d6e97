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
        ("\ufeff<data/>", missing("\ufeff<data/>")),
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
    ids=["empty", "relative", "byte-order-mark", "untrimmed", "text-before-tag", "nul", "directory",
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
