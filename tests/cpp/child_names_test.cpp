#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support.h"
#include "tree/child_names.h"
#include "xpath/evaluate.h"
#include "xpath/parse.h"

namespace tovarn::tree {
namespace {

using xpath::Clock;
using xpath::evaluate;
using xpath::parse_expression;

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

std::vector<NodeId> select(const Document& doc, const std::string& text) {
  auto expr = parse_expression(text);
  EXPECT_TRUE(expr.has_value()) << expr.error();
  if (!expr) return {};
  Clock clock("", "");
  auto value = evaluate(*expr, doc, {*doc.root(), 1, 1}, clock);
  EXPECT_TRUE(value.has_value()) << value.error();
  if (!value || value->index() != 3) return {};
  return std::get<xpath::NodeSet>(*value).ids;
}

// The children of `parent` named `name`, read one by one.
std::vector<NodeId> scan(const Document& doc, NodeId parent, std::string_view name) {
  std::vector<NodeId> out;
  for (NodeId child : doc.children(parent))
    if (doc.name(child) == name) out.push_back(child);
  return out;
}

// Every element, and an attribute, which has no children.
std::vector<NodeId> parents(const Document& doc) {
  std::vector<NodeId> out;
  for (std::uint32_t i = 0; i < doc.size(); ++i)
    if (!doc.is_attribute(NodeId{i})) out.push_back(NodeId{i});
  out.push_back(select(doc, "/data/@a").front());
  return out;
}

// Names of the wide group's children, alike in length and end bytes, and
// names no child has.
constexpr const char* kNames[] = {"aXbYc", "aYbXc", "aXbXc", "r", "q", "q11", "a",
                                  "aa",    "aaa",   "aYbX",  "s9", "none", ""};

TEST(ChildNames, StepsSelectWhatAScanSelects) {
  const Document doc = test_support::read(wide_groups());
  const Document other = test_support::read(wide_groups());
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
    ChildNames::Scope scope(names);
    // Asked again and again: through the table once the first lookups built it.
    for (int round = 0; round < 5; ++round) EXPECT_EQ(select(doc, text), scanned);
    // Another document, even of the same shape, is scanned.
    EXPECT_EQ(select(other, text), scanned);
    {
      ChildNames inner(other);
      ChildNames::Scope inner_scope(inner);
      EXPECT_EQ(select(doc, text), scanned);
      EXPECT_EQ(select(other, text), scanned);
    }
    EXPECT_EQ(select(doc, text), scanned);
  }
}

// Comparisons walk a path's nodes and may stop at the first; through the
// table they settle as a scan does, whether steps or walks built it.
TEST(ChildNames, WalkedComparisonsSettleAsAScanDoes) {
  const Document doc = test_support::read(wide_groups());
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
    return value ? xpath::value_to_string(*value) : std::string();
  };
  std::vector<std::string> scanned;
  for (const char* text : rules) scanned.push_back(judge(text));
  ChildNames names(doc);
  ChildNames::Scope scope(names);
  for (int round = 0; round < 5; ++round) {
    for (std::size_t i = 0; i < std::size(rules); ++i) {
      SCOPED_TRACE(rules[i]);
      EXPECT_EQ(judge(rules[i]), scanned[i]);
      if (round == 1) select(doc, "/data/g/aXbYc");
    }
  }
}

// Asked over and over, so that wide parents' children enter the table.
TEST(ChildNames, AppendsWhatAScanAppends) {
  const Document doc = test_support::read(wide_groups());
  ChildNames names(doc);
  for (int round = 0; round < 4; ++round) {
    for (NodeId parent : parents(doc)) {
      for (const char* name : kNames) {
        SCOPED_TRACE(std::string(doc.name(parent)) + " " + name);
        std::vector<NodeId> out = {NodeId{0}};  // appended to, not replaced
        EXPECT_TRUE(names.append(parent, name, out));
        std::vector<NodeId> want = scan(doc, parent, name);
        want.insert(want.begin(), NodeId{0});
        EXPECT_EQ(out, want);
      }
    }
  }
  // A foreign id is never read.
  std::vector<NodeId> out;
  EXPECT_FALSE(names.append(NodeId{static_cast<std::uint32_t>(doc.size())}, "q", out));
  EXPECT_TRUE(out.empty());
}

// The chain from first_named, once it answers, and from the moment enter()
// takes a wide parent in, is what a scan finds.
TEST(ChildNames, ChainsHoldWhatAScanFinds) {
  const Document doc = test_support::read(wide_groups());
  auto chain = [](const ChildNames& names, std::uint32_t first) {
    std::vector<NodeId> out;
    for (std::uint32_t c = first; c != ChildNames::kNone; c = names.next_named(c))
      out.push_back(NodeId{c});
    return out;
  };
  for (bool entered : {false, true}) {
    ChildNames names(doc);
    for (int round = 0; round < 4; ++round) {
      for (NodeId parent : parents(doc)) {
        std::uint32_t width = 0;
        for ([[maybe_unused]] NodeId child : doc.children(parent)) ++width;
        const bool wide = width > ChildNames::kNarrow;
        if (entered) {
          EXPECT_EQ(names.enter(parent), wide);
        }
        for (const char* name : kNames) {
          SCOPED_TRACE(std::string(doc.name(parent)) + " " + name);
          const std::optional<std::uint32_t> first = names.first_named(parent, name);
          // A narrow parent is always scanned; a wide one once asked a few times.
          if (!wide) {
            EXPECT_FALSE(first.has_value());
          } else if (entered || round > 0) {
            EXPECT_TRUE(first.has_value());
          }
          if (first) {
            EXPECT_EQ(chain(names, *first), scan(doc, parent, name));
          }
        }
      }
    }
  }
  ChildNames names(doc);
  EXPECT_EQ(names.first_named(NodeId{static_cast<std::uint32_t>(doc.size())}, "q"), std::nullopt);
  EXPECT_FALSE(names.enter(NodeId{static_cast<std::uint32_t>(doc.size())}));
}

TEST(ChildNames, ScopesNestAndEnd) {
  const Document doc = test_support::read(wide_groups());
  const Document other = test_support::read("<x/>");
  ChildNames outer(doc), inner(other), again(doc);
  EXPECT_EQ(ChildNames::of(doc), nullptr);
  {
    ChildNames::Scope outer_scope(outer);
    EXPECT_EQ(ChildNames::of(doc), &outer);
    {
      ChildNames::Scope inner_scope(inner);
      EXPECT_EQ(ChildNames::of(doc), &outer);
      EXPECT_EQ(ChildNames::of(other), &inner);
      ChildNames::Scope again_scope(again);
      EXPECT_EQ(ChildNames::of(doc), &again);
    }
    EXPECT_EQ(ChildNames::of(doc), &outer);
    EXPECT_EQ(ChildNames::of(other), nullptr);
  }
  EXPECT_EQ(ChildNames::of(doc), nullptr);
}

}  // namespace
}  // namespace tovarn::tree
