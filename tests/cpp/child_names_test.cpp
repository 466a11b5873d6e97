#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support.h"
#include "xpath/child_names.h"
#include "xpath/evaluate.h"
#include "xpath/parse.h"

namespace tovarn::xpath {
namespace {

using tree::NodeId;

// A wide group whose names share a length and their first, middle and last
// bytes ("aXbYc", "aYbXc"), recur apart ("r" rows between others), and
// differ in length only; a narrow group; an element named like an attribute.
std::string wide_groups() {
  std::string xml = "<data a='1'><g>";
  for (int i = 0; i < 12; ++i) {
    xml += "<aXbYc>" + std::to_string(i) + "</aXbYc><r><q>" + std::to_string(i) +
           "</q></r><aYbXc/><q" + std::to_string(i) + "/>";
  }
  xml += "<a/><aa/><aaa/></g><n><q/><r/><q>x</q></n><a>wide</a>";
  for (int i = 0; i < 10; ++i) xml += "<s" + std::to_string(i) + "/>";
  xml += "</data>";
  return xml;
}

std::vector<NodeId> select(const tree::Document& doc, const std::string& text) {
  auto expr = parse_expression(text);
  EXPECT_TRUE(expr.has_value()) << expr.error();
  if (!expr) return {};
  Clock clock("", "");
  auto value = evaluate(*expr, doc, {*doc.root(), 1, 1}, clock);
  EXPECT_TRUE(value.has_value()) << value.error();
  if (!value || value->index() != 3) return {};
  return std::get<NodeSet>(*value).ids;
}

TEST(ChildNames, StepsSelectWhatAScanSelects) {
  const tree::Document doc = test_support::read(wide_groups());
  const tree::Document other = test_support::read(wide_groups());
  const char* paths[] = {
      "/data/g/aXbYc", "/data/g/aYbXc", "/data/g/r/q",  "/data/g/q11",    "/data/g/a",
      "/data/g/aa",    "/data/g/aaa",   "/data/g/aXbXc", "/data/g/none",  "/data/n/q",
      "/data/a",       "/data/s9",      "/data/g/r[2]/q", "/data/*/q",    "//r/q",
      "/data/g/r/../aYbXc[3]", "/data/g/aXbYc[count(../aYbXc) = 12][2]", "/data/g/aXbYc[. = '7']",
  };
  for (const char* text : paths) {
    SCOPED_TRACE(text);
    const std::vector<NodeId> scanned = select(doc, text);
    ChildNames names(doc);
    // Asked again and again: through the table once the first lookups built it.
    for (int round = 0; round < 5; ++round) EXPECT_EQ(select(doc, text), scanned);
    // Another document, even of the same shape, is scanned.
    EXPECT_EQ(select(other, text), select(other, text));
    {
      ChildNames inner(other);
      EXPECT_EQ(select(doc, text), scanned);
      EXPECT_EQ(select(other, text), scanned);
    }
    EXPECT_EQ(select(doc, text), scanned);
  }
}

// Comparisons walk a path's nodes and may stop at the first; through the
// table they settle as a scan does, whether steps or walks built it.
TEST(ChildNames, WalkedComparisonsSettleAsAScanDoes) {
  const tree::Document doc = test_support::read(wide_groups());
  const NodeId context = select(doc, "/data/g/aYbXc[5]").front();
  const char* rules[] = {
      "../aXbYc = '0'",      "../a = ''",       "../aaa != 'x'",  "../aXbYc = '7'",
      "../aXbYc = '12'",     "../aXbYc != '0'", "../aXbYc = 7",   "../aYbXc = ''",
      "../none = ''",        "../none != ''",   "../r/q = '11'",  "../q11 = ''",
      "../aXbYc = true()",   "/data/g/aXbYc = '3'", "/data/n/q = 'x'", "/data/n/q != ''",
      "../../n/q = 'x'",
  };
  Clock clock("", "");
  auto judge = [&](const char* text) {
    auto expr = parse_expression(text);
    EXPECT_TRUE(expr.has_value()) << expr.error();
    if (!expr) return std::string();
    auto value = evaluate(*expr, doc, {context, 1, 1}, clock);
    EXPECT_TRUE(value.has_value()) << value.error();
    return value ? value_to_string(*value) : std::string();
  };
  std::vector<std::string> scanned;
  for (const char* text : rules) scanned.push_back(judge(text));
  ChildNames names(doc);
  for (int round = 0; round < 5; ++round) {
    for (std::size_t i = 0; i < std::size(rules); ++i) {
      SCOPED_TRACE(rules[i]);
      EXPECT_EQ(judge(rules[i]), scanned[i]);
      if (round == 1) select(doc, "/data/g/aXbYc");
    }
  }
}

TEST(ChildNames, AppendsWhatAScanAppends) {
  const tree::Document doc = test_support::read(wide_groups());
  ChildNames names(doc);
  const NodeId n = select(doc, "/data/n").front();
  const NodeId g = select(doc, "/data/g").front();
  const NodeId a = select(doc, "/data/@a").front();
  struct Case {
    NodeId parent;
    const char* name;
    const char* path;
  } cases[] = {
      {n, "q", "/data/n/q"},       {g, "aYbXc", "/data/g/aYbXc"}, {g, "aYbX", "/data/g/aYbX"},
      {g, "aXbYc", "/data/g/aXbYc"}, {a, "q", "/data/@a/q"},
  };
  // Asked over and over, so that the wide parent's children enter the table.
  for (int round = 0; round < 6; ++round) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.path);
      std::vector<NodeId> out;
      EXPECT_TRUE(names.append(c.parent, c.name, out));
      EXPECT_EQ(out, select(doc, c.path));
    }
  }
  // A foreign id is never read.
  std::vector<NodeId> out;
  EXPECT_FALSE(names.append(NodeId{static_cast<std::uint32_t>(doc.size())}, "q", out));
  EXPECT_TRUE(out.empty());
}

TEST(ChildNames, ScopesNestAndEnd) {
  const tree::Document doc = test_support::read(wide_groups());
  const tree::Document other = test_support::read("<x/>");
  EXPECT_EQ(ChildNames::of(doc), nullptr);
  {
    ChildNames outer(doc);
    EXPECT_EQ(ChildNames::of(doc), &outer);
    {
      ChildNames inner(other);
      EXPECT_EQ(ChildNames::of(doc), &outer);
      EXPECT_EQ(ChildNames::of(other), &inner);
      ChildNames again(doc);
      EXPECT_EQ(ChildNames::of(doc), &again);
    }
    EXPECT_EQ(ChildNames::of(doc), &outer);
    EXPECT_EQ(ChildNames::of(other), nullptr);
  }
  EXPECT_EQ(ChildNames::of(doc), nullptr);
}

}  // namespace
}  // namespace tovarn::xpath
