"""today(), now(), format-date() and format-date-time(), through eval_expression.
Dates are read strictly, times leniently; every %-code is printed."""

import pytest

import tovarn

D = "<data/>"
STAMP = "<data><d>2024-03-05T07:08:09.5+02:00</d><blank> \t</blank></data>"


def fd(date, pattern):
    return f"format-date('{date}', '{pattern}')"


CASES = [
    # every code
    (fd("2024-03-05", "%Y/%m/%d"), D, "2024/03/05"),
    (fd("2024-03-05", "%e.%n.%y"), D, "5.3.24"),
    (fd("2024-03-05", "%H:%M"), D, "00:00"),
    (fd("2024-03-05T07:08:09.005", "%H %h %M %S %3"), D, "07 7 08 09 005"),
    (fd("2024-03-05T17:08", "%h"), D, "17"),
    (fd("2024-03-05", "%%Y"), D, "%Y"),
    (fd("2024-03-05", ""), D, ""),
    (fd("2024-03-05", "day %e of %n, ünïcode"), D, "day 5 of 3, ünïcode"),
    (fd("5-01-01", "%Y"), D, "0005"),
    (fd("12345-01-01", "%Y"), D, "12345"),
    (fd("2005-01-01", "%y"), D, "05"),
    (fd("2100-01-01", "%y"), D, "00"),
    (fd("9223372036854775807-12-31", "%Y"), D, "9223372036854775807"),
    # the zone is dropped, the clock reading kept
    ("format-date-time('2024-03-05T07:08:09.5+02:00', '%H:%M:%S.%3')", D, "07:08:09.500"),
    ("format-date-time('2024-03-05T07:08:09.5-05:00', '%H:%M:%S.%3')", D, "07:08:09.500"),
    ("format-date-time('2024-03-05T07:08:09Z', '%H:%M:%S')", D, "07:08:09"),
    ("format-date-time('2024-03-05T07:08:09.123456', '%3')", D, "123"),
    ("format-date-time('2024-03-05T07:08:09.05', '%3')", D, "050"),
    ("format-date-time('2024-03-05T07:08:09.', '%3')", D, "000"),
    ("format-date-time(/data/d, '%Y-%m-%d %H:%M')", STAMP, "2024-03-05 07:08"),
    # both names read dates and date-times, with every code
    ("format-date('2024-03-05T07:08', '%H:%M')", D, "07:08"),
    ("format-date-time('2024-03-05', '%d/%m/%Y')", D, "05/03/2024"),
    # a space works like T
    (fd("2024-03-05 07:08", "%H:%M"), D, "07:08"),
    # lenient time: taken as written, unreadable fields are 0
    (fd("2024-03-05T25:61:99", "%H:%M:%S"), D, "25:61:99"),
    (fd("2024-03-05T12:30:45,5", "%H:%M:%S"), D, "12:30:00"),
    (fd("2024-03-05T12", "%H:%M"), D, "12:00"),
    (fd("2024-03-05Tnoon", "%H:%M"), D, "00:00"),
    (fd("2024-03-05T99999999999:07", "%H:%M"), D, "00:07"),
    # strict date, but no test of the day against the month
    (fd("2024-1-5", "%Y-%m-%d"), D, "2024-01-05"),
    (fd("+2024-01-05", "%Y"), D, "2024"),
    (fd("2023-02-31", "%d.%m."), D, "31.02."),
    (fd("  2024-03-05\n", "%d"), D, "05"),
    # a blank date gives the empty text; the pattern is not even evaluated
    (fd("", "%Y"), D, ""),
    (fd("   ", "%q"), D, ""),
    ("format-date('', unknown())", D, ""),
    ("format-date(/data/blank, unknown())", STAMP, ""),
    ("format-date(/data/none, '%')", STAMP, ""),
]


@pytest.mark.parametrize("expression, xml, expected", CASES, ids=[c[0] for c in CASES])
def test_value(expression, xml, expected):
    assert tovarn.eval_expression(expression, xml) == expected


def no_date(name, quoted):
    return f"{name}(): {quoted} is not an ISO date or date-time"


LANGUAGE = "names a day or month in the form's language, and this evaluator has none — it will not guess one"

FAILURES = [
    (fd("2024-13-01", "%Y"), no_date("format-date", '"2024-13-01"')),
    (fd("2024-00-10", "%Y"), no_date("format-date", '"2024-00-10"')),
    (fd("2024-01-32", "%Y"), no_date("format-date", '"2024-01-32"')),
    (fd("2024-01", "%Y"), no_date("format-date", '"2024-01"')),
    (fd("2024-01-05Z", "%Y"), no_date("format-date", '"2024-01-05Z"')),
    (fd("2024/01/05", "%Y"), no_date("format-date", '"2024/01/05"')),
    (fd("-2024-01-05", "%Y"), no_date("format-date", '"-2024-01-05"')),
    (fd("2024-03-05t07:08", "%Y"), no_date("format-date", '"2024-03-05t07:08"')),
    # fields that overflow are no date, never a wrapped one
    (fd("9223372036854775808-01-01", "%Y"),
     no_date("format-date", '"9223372036854775808-01-01"')),
    (fd("2024-4294967297-01", "%Y"), no_date("format-date", '"2024-4294967297-01"')),
    (fd("2024-01-4294967301", "%Y"), no_date("format-date", '"2024-01-4294967301"')),
    # the name as written, the text untrimmed and quoted
    ("format-date-time(' 2024-13-01\t', '%Y')", no_date("format-date-time", '" 2024-13-01\\t"')),
    ('format-date(\'say "x"\', \'%Y\')', no_date("format-date", '"say \\"x\\""')),
    # a number is printed first
    ("format-date(20240305, '%Y')", no_date("format-date", '"20240305"')),
    # a bad date fails before the pattern is evaluated
    ("format-date('x', unknown())", no_date("format-date", '"x"')),
    # patterns
    (fd("2024-03-05", "%"), "a date format ends with a bare %"),
    (fd("2024-03-05", "x%"), "a date format ends with a bare %"),
    (fd("2024-03-05", "%Y%"), "a date format ends with a bare %"),
    (fd("2024-03-05", "%q"), "unknown date format code %q"),
    (fd("2024-03-05", "%Y %D"), "unknown date format code %D"),
    (fd("2024-03-05", "%é"), "unknown date format code %é"),
    (fd("2024-03-05", "% "), "unknown date format code % "),
    (fd("2024-03-05", "%a"), f"%a {LANGUAGE}"),
    (fd("2024-03-05", "%d %b"), f"%b {LANGUAGE}"),
    # the first failing code ends the formatting
    (fd("2024-03-05", "%q%"), "unknown date format code %q"),
    (fd("2024-03-05", "%b%q"), f"%b {LANGUAGE}"),
    ("format-date('2024-03-05', unknown())", "unknown function unknown()"),
    ("format-date(unknown(), '%Y')", "unknown function unknown()"),
    ("format-date('2024-03-05')", "format-date() takes 2 argument(s), got 1"),
]


@pytest.mark.parametrize("expression, message", FAILURES, ids=[c[0] for c in FAILURES])
def test_failure(expression, message):
    with pytest.raises(RuntimeError) as e:
        tovarn.eval_expression(expression, D)
    assert str(e.value) == message


CLOCKS = [
    ("2024-05-31", "2024-05-31T10:11:12.000+02:00"),
    ("", ""),
    (" not a date ", "whenever"),
]


@pytest.mark.parametrize("today, now", CLOCKS, ids=[repr(c) for c in CLOCKS])
def test_clock_texts_pass_through(today, now):
    assert tovarn.eval_expression("today()", D, today=today, now=now) == today
    assert tovarn.eval_expression("now()", D, today=today, now=now) == now


def test_clock_text_read_as_a_date():
    assert tovarn.eval_expression("format-date(today(), '%e/%n')", D, today="2024-05-31") == "31/5"
    assert tovarn.eval_expression("format-date-time(now(), '%H:%M')", D,
                                  now="2024-05-31T10:11:12.000+02:00") == "10:11"
