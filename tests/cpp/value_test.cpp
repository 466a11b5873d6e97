#include "xpath/value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace tovarn::xpath {
namespace {

using tree::Document;
using tree::NodeId;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(FormatNumber, Table) {
  struct Case {
    double number;
    const char* text;
  };
  static const Case cases[] = {
      {5, "5"},
      {-0.0, "0"},
      {0.0, "0"},
      {2.50, "2.5"},
      {-0.5, "-0.5"},
      {0.1, "0.1"},
      {0.1 + 0.2, "0.30000000000000004"},
      {1e-7, "0.0000001"},
      {-1.25e-10, "-0.000000000125"},
      {123.456, "123.456"},
      {10.125, "10.125"},
      {-9223372036854775808.0, "-9223372036854775808"},
      {9223372036854775808.0, "9223372036854775808"},
      {18446744073709551616.0, "18446744073709551616"},
      {1e20, "100000000000000000000"},
      {999999999999999868928.0, "999999999999999868928"},
      {1e21, "1000000000000000000000"},
      {-1e21, "-1000000000000000000000"},
      {1.2345e22, "12345000000000000000000"},
      {kNaN, "NaN"},
      {kInf, "Infinity"},
      {-kInf, "-Infinity"},
      {5e-324,
       "0.000000000000000000000000000000000000000000000000000000000000000000000000000"
       "000000000000000000000000000000000000000000000000000000000000000000000000000"
       "000000000000000000000000000000000000000000000000000000000000000000000000000"
       "000000000000000000000000000000000000000000000000000000000000000000000000000"
       "000000000000000000000005"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(format_number(c.number), c.text);
  }
}

TEST(FormatNumber, LargeMagnitudesUseTheShortestDigits) {
  EXPECT_EQ(format_number(1.5e300), "15" + std::string(299, '0'));
  EXPECT_EQ(format_number(-std::numeric_limits<double>::max()),
            "-17976931348623157" + std::string(292, '0'));
}

TEST(StringToNumber, Table) {
  struct Case {
    const char* text;
    double number;
  };
  static const Case cases[] = {
      {"5", 5},
      {"+5", 5},
      {"-5", -5},
      {" \t1e3\n", 1000},
      {" 1e3\u00a0", 1000},
      {"\u30007\u2029", 7},
      {"5.", 5},
      {".5", 0.5},
      {"-.5e-1", -0.05},
      {"1E+2", 100},
      {"007", 7},
      {"INF", kInf},
      {"-inf", -kInf},
      {"Infinity", kInf},
      {"+iNfInItY", kInf},
      {"1e400", kInf},
      {"-1e400", -kInf},
      {"1e99999999999999999999", kInf},
      {"0.00001e-99999999999999999999", 0},
      {"1e-400", 0},
      {"4.9406564584124654e-324", 5e-324},
      {"3e-324", 5e-324},
      {"2e-324", 0},
      {"0e999999", 0},
      {"0.1", 0.1},
      {"9007199254740993", 9007199254740992.0},  // ties to even
      {"179769313486231580793728971405303415079934132710037826936173778980444968292764"
       "750946649017977587207096330286416692887910946555547851940402630657488671505820"
       "681908902000708383676273854845817711531764475730270069855571366959622842914819"
       "860834936475292719074168444365510704342711559699508093042880177904174497791.9",
       std::numeric_limits<double>::max()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(string_to_number(c.text), c.number);
  }
}

TEST(StringToNumber, SignOfZeroAndUnderflowIsKept) {
  EXPECT_TRUE(std::signbit(string_to_number("-0")));
  EXPECT_TRUE(std::signbit(string_to_number("-1e-400")));
  EXPECT_FALSE(std::signbit(string_to_number("1e-400")));
}

TEST(StringToNumber, NotANumber) {
  static const char* const cases[] = {
      "",   " \t ", "12abc", "1,5", "1 000", "0x10",   "1_000", "5 apples", ".",     "+",    "-",
      "e5", "1e",   "1e+",   "--5", "+-5",   "nan(1)", "infin", "in f",     "1.2.3", "+.e1", "٣",
  };
  for (const char* text : cases) {
    SCOPED_TRACE(text);
    EXPECT_TRUE(std::isnan(string_to_number(text)));
  }
  EXPECT_TRUE(std::isnan(string_to_number("-nan")));
  EXPECT_TRUE(std::isnan(string_to_number("NaN")));
}

// Days since 1970-01-01, checked against a proleptic Gregorian calendar.
TEST(StringToNumber, DatesCountAsDays) {
  struct Case {
    const char* text;
    double days;
  };
  static const Case cases[] = {
      {"1970-01-01", 0},
      {"1969-12-31", -1},
      {"2008-09-05", 14127},
      {" 2008-09-05\u00a0", 14127},
      {"+2008-9-05", 14127},
      {"0002008-09-05-junk", 14127},
      // a day past the month's end carries over
      {"2021-02-30", 18688},
      {"2021-04-31", 18748},
      {"2020-02-30", 18322},
      // leap years: every fourth, not centuries, but every fourth century
      {"1900-03-01", -25508},
      {"2000-03-01", 11017},
      {"2400-12-31", 157419},
      {"1-01-01", -719162},
      {"0-01-01", -719528},
      {"0000-02-29", -719469},
      {"0000-03-01", -719468},
      {"9999-12-31", 2932896},
      // the time of day as a fraction; a zone is dropped, never applied
      {"1970-01-01T06:00", 0.25},
      {"1970-01-01T18:00:00Z", 0.75},
      {"1970-01-01 18:00+02:00", 0.75},
      {"1970-01-01T18:00:00.000-05:00", 0.75},
      {"1969-12-31T12:00", -0.5},
      {"1970-01-01T10:30:junk", 0.4375},
      {"1970-01-01T48:00", 2},
      {"1970-01-01T00:00:00.5z", 500.0 / 86'400'000},
      {"1970-01-01T00:00:01.123456", 1123.0 / 86'400'000},
      // the float grammar comes first
      {"20211130", 20211130},
      {"-1e3", -1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(string_to_number(c.text), c.days);
  }
}

TEST(StringToNumber, TextsThatAreNoDateStayNaN) {
  static const char* const cases[] = {
      "-2021-11-30", "2021-11-30Z", "10:30",      "10:30:00Z",        "2021-13-01",
      "2021-00-01",  "2021-01-32",  "2021-11",    "2021/11/30",       "2021-11-30t10:00",
      "T2021-11-30", "1e3-01-01",   "2021-11-3O", "\u0662\u0660\u0662\u0661-11-30",
      "9223372036854775808-01-01",  "2021-4294967297-01",
  };
  for (const char* text : cases) {
    SCOPED_TRACE(text);
    EXPECT_TRUE(std::isnan(string_to_number(text)));
  }
}

// The largest years and time fields stay finite and ordered, without
// overflow (the sanitizer build checks the arithmetic).
TEST(StringToNumber, HugeYearsAndTimes) {
  const double last =
      string_to_number("9223372036854775807-12-31T4294967295:4294967295:4294967295.999");
  const double first = string_to_number("9223372036854775807-01-01");
  const double expected = 9223372036854775807.0 * 365.2425;
  EXPECT_NEAR(first / expected, 1, 1e-12);
  EXPECT_GE(last, first);
  EXPECT_TRUE(std::isfinite(last));
  // 2^32 - 1 hours are about 179 million days.
  EXPECT_NEAR(string_to_number("1970-01-01T4294967295"), 4294967295.0 / 24, 1e-6);
  EXPECT_EQ(string_to_number("1970-01-01T4294967296"), 0);  // the hour does not read
}

// <data><a>7</a><b> 7 </b><c>9</c><d>1</d><e>2</e><f/></data>
struct Fixture {
  Document doc;
  NodeId data, a, b, c, d, e, f;
  Fixture() {
    data = doc.new_element("data", "");
    doc.set_root(data);
    auto child = [&](const char* name, const char* text) {
      NodeId id = doc.new_element(name, text);
      doc.append_child(data, id);
      return id;
    };
    a = child("a", "7");
    b = child("b", " 7 ");
    c = child("c", "9");
    d = child("d", "1");
    e = child("e", "2");
    f = child("f", "");
    doc.reindex_document_order();
  }
  Value set(std::vector<NodeId> ids) const { return NodeSet{&doc, std::move(ids)}; }
};

TEST(Conversions, NodeSetsReadTheirFirstNode) {
  Fixture fx;
  EXPECT_EQ(value_to_string(fx.set({})), "");
  EXPECT_EQ(value_to_string(fx.set({fx.c, fx.a, fx.b})), "9");
  EXPECT_TRUE(std::isnan(value_to_number(fx.set({}))));
  EXPECT_EQ(value_to_number(fx.set({fx.b, fx.c})), 7);
  EXPECT_EQ(value_to_number(Value{true}), 1);
  EXPECT_EQ(value_to_string(Value{false}), "false");
  EXPECT_EQ(value_to_string(Value{0.5}), "0.5");
  EXPECT_FALSE(value_to_boolean(fx.set({})));
  EXPECT_TRUE(value_to_boolean(fx.set({fx.f})));
}

TEST(Conversions, Boolean) {
  struct Case {
    Value value;
    bool expected;
  };
  const Case cases[] = {
      {0.0, false},
      {-0.0, false},
      {kNaN, false},
      {-kInf, true},
      {0.1, true},
      {std::string(""), false},
      {std::string("0"), true},
      {std::string("false"), true},
      {std::string(" "), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(value_to_string(c.value));
    EXPECT_EQ(value_to_boolean(c.value), c.expected);
  }
}

TEST(CompareEqual, Table) {
  Fixture fx;
  struct Case {
    const char* name;
    Value lhs;
    Value rhs;
    bool eq;
    bool ne;
  };
  using S = std::string;
  const Case cases[] = {
      {"no trimming", S("abc"), S("abc "), false, true},
      {"no case folding", S("abc"), S("ABC"), false, true},
      {"boolean wins over number", true, 2.0, true, false},
      {"zero is false", 0.0, false, true, false},
      {"text as number", S("1.0"), 1.0, true, false},
      {"text that is no number", S("x"), 1.0, false, true},
      {"NaN", kNaN, kNaN, false, true},
      {"negative zero", -0.0, 0.0, true, false},
      {"empty set and empty text", fx.set({}), S(""), false, false},
      {"empty set and a number", fx.set({}), 1.0, false, false},
      {"empty set is false", fx.set({}), false, true, false},
      {"nonempty set is true", fx.set({fx.f}), true, true, false},
      {"some node equals, some differs", fx.set({fx.d, fx.e}), 1.0, true, true},
      {"number read after trimming", fx.set({fx.b}), 7.0, true, false},
      {"text compared untrimmed", fx.set({fx.b}), S("7"), false, true},
      {"empty node text", fx.set({fx.f}), S(""), true, false},
      {"NaN node differs", fx.set({fx.f}), kNaN, false, true},
      {"sets sharing a text", fx.set({fx.c, fx.a}), fx.set({fx.d, fx.a}), true, true},
      {"sets sharing nothing", fx.set({fx.a, fx.c}), fx.set({fx.d, fx.e}), false, true},
      {"sets of one same text", fx.set({fx.a}), fx.set({fx.a}), true, false},
      {"either set empty", fx.set({}), fx.set({fx.a}), false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(compare_equal(BinaryOp::eq, c.lhs, c.rhs), c.eq);
    EXPECT_EQ(compare_equal(BinaryOp::ne, c.lhs, c.rhs), c.ne);
    EXPECT_EQ(compare_equal(BinaryOp::eq, c.rhs, c.lhs), c.eq);
    EXPECT_EQ(compare_equal(BinaryOp::ne, c.rhs, c.lhs), c.ne);
  }
}

TEST(CompareEqual, NodeSetsReadTheirOwnDocument) {
  Fixture one;
  Document other;
  NodeId x = other.new_element("x", "9");
  other.set_root(x);
  other.reindex_document_order();
  // Id 0 is "data" in `one` (text "") and "x" in `other` (text "9").
  Value mine = NodeSet{&one.doc, {one.c}};
  Value theirs = NodeSet{&other, {x}};
  EXPECT_TRUE(compare_equal(BinaryOp::eq, mine, theirs));
  EXPECT_EQ(value_to_string(theirs), "9");
}

TEST(ValueToNodeSet, KindPhrases) {
  struct Case {
    Value value;
    const char* message;
  };
  const Case cases[] = {
      {true, "union needs a node-set, got a boolean"},
      {1.0, "union needs a node-set, got a number"},
      {std::string("abc"), "union needs a node-set, got a string"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    auto r = value_to_nodeset(Value(c.value), "union");
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), c.message);
  }
  Fixture fx;
  auto r = value_to_nodeset(fx.set({fx.a}), "a path base");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->ids, std::vector<NodeId>{fx.a});
}

TEST(SortDocumentOrder, Table) {
  Fixture fx;
  const NodeId late = fx.doc.new_element("late", "");  // made after the rebuild
  const NodeId later = fx.doc.new_element("later", "");
  const NodeId foreign{1000};
  struct Case {
    const char* name;
    std::vector<NodeId> in;
    std::vector<NodeId> out;
  };
  const Case cases[] = {
      {"sorted", {fx.a, fx.b, fx.c}, {fx.a, fx.b, fx.c}},
      {"reversed with duplicates",
       {fx.f, fx.e, fx.e, fx.c, fx.a, fx.f, fx.data},
       {fx.data, fx.a, fx.c, fx.e, fx.f}},
      {"two runs", {fx.b, fx.d, fx.a, fx.c, fx.d}, {fx.a, fx.b, fx.c, fx.d}},
      {"scattered", {fx.d, fx.a, fx.f, fx.b, fx.e, fx.c}, {fx.a, fx.b, fx.c, fx.d, fx.e, fx.f}},
      {"unindexed last, in given order", {later, fx.c, late, fx.a}, {fx.a, fx.c, later, late}},
      {"unindexed copies apart both stay",
       {late, later, late, late, fx.b},
       {fx.b, late, later, late}},
      {"foreign ids sort as unindexed", {foreign, fx.a}, {fx.a, foreign}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<NodeId> ids = c.in;
    sort_document_order(ids, fx.doc);
    EXPECT_EQ(ids, c.out);
  }
}

TEST(SortDocumentOrder, LargeShuffledList) {
  Document doc;
  NodeId root = doc.new_element("r", "");
  doc.set_root(root);
  std::vector<NodeId> expected{root};
  for (int i = 0; i < 5000; ++i) {
    NodeId c = doc.new_element("c", "");
    doc.append_child(root, c);
    expected.push_back(c);
  }
  doc.reindex_document_order();
  std::vector<NodeId> ids;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ids.push_back(expected[(i * 7919) % expected.size()]);
    ids.push_back(expected[(i * 104729) % expected.size()]);
  }
  sort_document_order(ids, doc);
  EXPECT_EQ(ids, expected);
}

}  // namespace
}  // namespace tovarn::xpath
