// A pass memo told of a write: the value read again in the same pass is the
// new one, whatever part of the rule the memo kept.

#include <gtest/gtest.h>

#include <string>

#include "tree/document.h"
#include "tree/fast_paths.h"
#include "tree/query.h"
#include "tree/xml.h"
#include "xpath/environment.h"
#include "xpath/evaluate.h"
#include "xpath/parse.h"

namespace tovarn::xpath {
namespace {

constexpr const char* kXml = "<d><v>1</v><v>2</v><w>a</w><x>k</x></d>";

std::string read_at_root(const Expr& rule, const tree::Document& doc) {
  Clock clock("", "");
  EvalResult r = evaluate(rule, doc, EvalContext{*doc.root()}, clock);
  return r ? value_to_string(*r) : "error: " + r.error();
}

tree::NodeId node_at(const tree::Document& doc, const char* path) {
  auto expr = parse_expression(path);
  Clock clock("", "");
  EvalResult r = evaluate(*expr, doc, EvalContext{*doc.root()}, clock);
  return std::get<NodeSet>(*r).ids.at(0);
}

TEST(PassMemo, ReadWrittenReadAgain) {
  const struct {
    const char* rule;
    const char* written;  // the node written
    const char* text;     // its new text
    const char* before;
    const char* after;
  } cases[] = {
      // Values whose reads are known: forgotten when a write falls in them.
      {"sum(/d/v)", "/d/v[1]", "10", "3", "12"},
      {"concat(/d/w, /d/x)", "/d/x", "m", "ak", "am"},
      {"/d/v = 10", "/d/v[2]", "10", "false", "true"},
      {"/d/v != 1", "/d/v[2]", "1", "true", "false"},
      {"sum(/d/v) + string-length(/d/w)", "/d/w", "abc", "4", "6"},
      // A write outside them leaves the value as it is.
      {"sum(/d/v)", "/d/w", "zzz", "3", "3"},
      // Paths with predicates: their nodes and the value are forgotten.
      {"count(/d/v[. = 2])", "/d/v[1]", "2", "1", "2"},
      {"string(/d/v[2])", "/d/v[2]", "7", "2", "7"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rule);
    auto doc = tree::parse_xml(kXml);
    ASSERT_TRUE(doc);
    auto rule = parse_expression(c.rule);
    ASSERT_TRUE(rule) << rule.error();
    const tree::NodeId node = node_at(*doc, c.written);

    PassMemo memo(*rule);
    EXPECT_EQ(read_at_root(*rule, *doc), c.before);
    EXPECT_EQ(read_at_root(*rule, *doc), c.before);
    doc->set_text(node, c.text);
    memo.written(*doc, node);
    EXPECT_EQ(read_at_root(*rule, *doc), c.after);
  }
}

#if !defined(NDEBUG) || defined(TOVARN_CHECKS)
TEST(PassMemoDeathTest, EndedOutOfOrder) {
  if (!kFastPaths) GTEST_SKIP() << "the plain build keeps no memos";
  auto outer_rule = parse_expression("sum(/d/v)");
  auto inner_rule = parse_expression("count(/d/v)");
  EXPECT_DEATH(
      {
        auto* outer = new PassMemo(*outer_rule);
        PassMemo inner(*inner_rule);
        delete outer;
      },
      "check failed");
}
#endif

}  // namespace
}  // namespace tovarn::xpath
