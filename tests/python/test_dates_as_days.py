"""Dates count as days: wherever a number is taken from a text, an ISO date or
date-time is the number of days since 1970-01-01, while texts compared with
texts stay texts. Checked through eval_expression and on a whole form."""

import datetime

import pytest

import tovarn
from support import in_child, xform

D = "<data/>"
DOB = "<data><dob>1990-05-01</dob></data>"
TODAY = "2026-12-10"
# Two dates, then a text that is no number.
DATES = "<data><d>2021-11-30</d><d> 2021-12-01 </d><n>x</n></data>"

CASES = [
    ("'2021-11-30' - '2021-11-29'", D, "1"),
    ("number('1970-01-01')", D, "0"),
    ("number('1969-12-31')", D, "-1"),
    ("number('2008-09-05')", D, "14127"),
    ("'2008-09-08' - '1983-10-06'", D, "9104"),
    ("today() - /data/dob", DOB, "13372"),
    ("int((today() - /data/dob) div 365.25)", DOB, "36"),
    ("/data/dob < today()", DOB, "true"),
    ("'2021-11-30' < '2021-12-01'", D, "true"),
    ("'2021-02-30' - 1", D, "18687"),
    ("'10:30' < '11:00'", D, "false"),
    ("'2021-11-30Z' - 0", D, "NaN"),
    ("'20211130' - 0", D, "20211130"),
    ("'2021-11-30' = ' 2021-11-30'", D, "false"),
    # every comparison operator, against a date and against today()
    ("/data/dob <= '1990-05-01'", DOB, "true"),
    ("/data/dob > '1990-05-01'", DOB, "false"),
    ("/data/dob >= '1990-05-02'", DOB, "false"),
    ("/data/dob > today()", DOB, "false"),
    ("'2021-11-30T23:59' < '2021-12-01'", D, "true"),
    ("'2021-12-01T00:00:00+14:00' > '2021-11-30T23:00:00-12:00'", D, "true"),
    # = and != against a number see days; between texts they compare bytes
    ("'2021-11-30' = 18961", D, "true"),
    ("18961 != '2021-11-30'", D, "false"),
    ("/data/d = 18962", DATES, "true"),
    ("/data/d = '2021-12-01'", DATES, "false"),
    ("/data/d = ' 2021-12-01 '", DATES, "true"),
    ("/data/d[1] = /data/d[2]", DATES, "false"),
    ("'2021-11-30' = '2021-11-30T00:00'", D, "false"),
    ("'2021-11-30' = number('2021-11-30T00:00')", D, "true"),
    # number(), arithmetic and the functions that take numbers
    ("number(/data/d[2])", DATES, "18962"),
    ("number()", "<d>1970-01-11</d>", "10"),
    ("-'1970-01-02'", D, "-1"),
    ("'1970-01-03' * 2", D, "4"),
    ("'1970-01-11' mod 3", D, "1"),
    ("sum(/data/d)", DATES, "37923"),
    ("sum(/data/d | /data/n)", DATES, "NaN"),
    ("max(/data/d)", DATES, "18962"),
    ("min('2021-11-30', 20000)", D, "18961"),
    ("round('2021-11-30T12:00')", D, "18962"),
    ("round('2021-11-30T11:59')", D, "18961"),
    ("int('1969-12-31T12:00')", D, "0"),
    ("floor('1969-12-31T12:00')", D, "-1"),
    ("abs('1969-12-31')", D, "1"),
    ("if('1970-01-02' > 0, 'after', 'before')", D, "after"),
    ("substr('abcdef', '1970-01-02', '1970-01-04')", D, "bc"),
    ("/data/d[number(.) > 18961]", DATES, " 2021-12-01 "),
    # strings stay strings until a number is asked for
    ("string('2021-11-30')", D, "2021-11-30"),
    ("boolean('1970-01-01')", D, "true"),
    ("concat(/data/d[1], '')", DATES, "2021-11-30"),
    # not dates, so still NaN
    ("number('2021-11')", D, "NaN"),
    ("number('2021-11-31x')", D, "NaN"),
    ("number('-2021-11-30')", D, "NaN"),
    ("number('2021-11-30t10:00')", D, "NaN"),
    ("number('10:30:00')", D, "NaN"),
    ("number(/data/n)", DATES, "NaN"),
]


@pytest.mark.parametrize("expression, xml, expected", CASES, ids=[c[0] for c in CASES])
def test_value(expression, xml, expected):
    assert tovarn.eval_expression(expression, xml, today=TODAY) == expected


TIMES = [
    ("'2021-11-30T10:00:00Z' - '2021-11-30'", 10 / 24),
    ("'2021-11-30T10:00:00+05:00' - '2021-11-30T10:00:00-05:00'", 0),
    ("'2021-11-30 10:00' - '2021-11-30T10:00:00.000Z'", 0),
    ("number('1970-01-01T12:00')", 0.5),
    ("number('1969-12-31T18:00:00')", -0.25),
    ("number('1970-01-02T00:00:00.250')", 1 + 250 / 86_400_000),
    ("number('1970-01-01T01:02:03.004')", (3_723_004) / 86_400_000),
    ("now() - today()", 13 / 24),
]


@pytest.mark.parametrize("expression, days", TIMES, ids=[c[0] for c in TIMES])
def test_time_of_day_is_a_fraction(expression, days):
    value = tovarn.eval_expression(expression, D, today=TODAY, now=f"{TODAY}T13:00:00.000+01:00")
    assert float(value) == pytest.approx(days, abs=1e-9)


# Around every kind of leap rule, each date against Python's own calendar;
# days past the month's end carry over into the next month.
YEARS = [0, 1, 4, 99, 100, 400, 1582, 1600, 1700, 1899, 1900, 1969, 1970, 2000, 2023, 2024, 2100,
         2400, 9999]


@pytest.mark.parametrize("year", YEARS, ids=str)
def test_days_follow_the_calendar(year):
    # Python's calendar starts at year 1; year 0 is year 400 shifted by the
    # days of one 400-year cycle.
    shift = 146097 if year == 0 else 0
    epoch = datetime.date(1970, 1, 1).toordinal()
    for month in range(1, 13):
        first = datetime.date(year or 400, month, 1).toordinal() - epoch - shift
        for day in [1, 28, 29, 30, 31]:
            text = f"{year:04d}-{month:02d}-{day:02d}"
            assert tovarn.eval_expression(f"number('{text}')", D) == str(first + day - 1), text


def test_huge_years_stay_finite():
    # The largest year that reads, with the largest time fields.
    assert in_child("""
        import tovarn
        last = "9223372036854775807-12-31T4294967295:4294967295:4294967295.999"
        print(float(tovarn.eval_expression(f"number('{last}')", "<d/>")) > 3.3e21)
        print(tovarn.eval_expression("number('9223372036854775808-01-01')", "<d/>"))
    """) == ["True", "NaN"]


def test_long_texts_that_look_like_dates():
    # Every piece is read once: no piece of a long text costs more than its length.
    assert in_child("""
        import tovarn
        n = 20_000_000
        for text in ["2021-11-30T" + "9" * n, "2021-11-30" + "-1" * n, "9" * n + "-01-01",
                     "2021-11-30T10:" + ":" * n, "-" * n, "1" + "-1" * n]:
            print(tovarn.eval_expression("number(/d)", "<d>" + text + "</d>"))
    """, timeout=120) == ["18961", "18961", "NaN", "18961.416666666668", "NaN", "-719162"]


# --- a whole form ---------------------------------------------------------------

FORM = xform(
    '<bind nodeset="/data/dob" type="date" constraint=". &lt;= today()"/>'
    '<bind nodeset="/data/age" type="int" calculate="int((today() - ../dob) div 365.25)"/>'
    '<bind nodeset="/data/why" type="string" relevant="../end &gt; ../start" required="true()"/>',
    "<data><dob/><age/><start/><end/><why/></data>")


def submission(dob="1990-05-01", age="36", start="2026-12-01", end="2026-12-09", why="late"):
    return (f"<data><dob>{dob}</dob><age>{age}</age><start>{start}</start><end>{end}</end>"
            f"<why>{why}</why></data>")


JUDGED = [
    (submission(), []),
    (submission(dob=TODAY, age="0"), []),
    (submission(dob="2026-12-11", age="0"), ["/data/dob: the answer does not satisfy the form's constraint"]),
    (submission(dob="2026-12-10T00:00:01", age="0"),
     ["/data/dob: the answer does not satisfy the form's constraint"]),
    (submission(age="35"), ['/data/age: holds "35", but the form calculates "36"']),
    (submission(dob="1990-12-10"), []),
    (submission(dob="1990-12-11", age="35"), []),
    (submission(why=""), ["/data/why: required, and unanswered"]),
    (submission(end="2026-12-01", why=""), []),
    (submission(start="2026-12-09", end="2026-12-01", why=""), []),
]


@pytest.mark.parametrize("submission, says", JUDGED,
                         ids=["valid", "born-today", "born-after-today", "born-a-second-late",
                              "wrong-age", "birthday-today", "birthday-tomorrow",
                              "relevant-unanswered", "same-day", "end-before-start"])
def test_form_judged(submission, says):
    found = tovarn.submission_findings(FORM, submission, today=TODAY)
    assert [f["says"] for f in found] == says


def test_session_recompute_writes_the_age():
    s = tovarn.Session(FORM, today=TODAY)
    s.set("/data/dob", "1990-05-01")
    s.set("/data/start", "2026-12-01")
    s.set("/data/end", "2026-12-09")
    result = s.recompute()
    assert result["calculated"] == {"/data/age": "36"}
    assert result["relevant"]["/data/why"] is True
    assert result["missing"] == ["/data/why"]
    assert result["invalid"] == []
    assert s.get("/data/age") == "36"
    s.set("/data/dob", "2027-01-01")
    result = s.recompute()
    assert result["calculated"] == {"/data/age": "0"}
    assert result["invalid"] == [("/data/dob", "this answer is not allowed")]
