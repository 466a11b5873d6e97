// choice-name() and pulldata() against an environment that has choice labels
// and tables, which the plain clock of eval_expression never has.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>

#include "tree/xml.h"
#include "xpath/environment.h"
#include "xpath/evaluate.h"
#include "xpath/parse.h"
#include "xpath/value.h"
#include "support.h"

namespace tovarn::xpath {
namespace {

class LookupEnvironment final : public Environment {
 public:
  LookupEnvironment() {
    labels_[{"yes", "/data/q"}] = "Yes, please";
    labels_[{" spaced ", "/data/q"}] = "Spaced";
    labels_[{"", "/data/q"}] = "Empty";
    tables_.emplace("flat", test_support::read(
                                "<root><row><name>pear</name><price>3</price></row>"
                                "<row><name> apple </name><price> 2 </price></row></root>"));
    tables_.emplace("wrapped", test_support::read(
                                   "<instance><data><row><name>pear</name><price>4</price></row>"
                                   "</data></instance>"));
    tables_.emplace("one-row", test_support::read("<root><row><name>pear</name><price>5</price></row></root>"));
    tables_.emplace("empty", tree::Document());
  }
  const tree::Document* instance(std::string_view id) const override {
    auto it = tables_.find(std::string(id));
    return it == tables_.end() ? nullptr : &it->second;
  }
  std::optional<std::string> choice_label(std::string_view value,
                                          std::string_view path) const override {
    auto it = labels_.find({std::string(value), std::string(path)});
    if (it == labels_.end()) return std::nullopt;
    return it->second;
  }
  std::string_view today() const override { return ""; }
  std::string_view now() const override { return ""; }

 private:
  std::map<std::pair<std::string, std::string>, std::string> labels_;
  std::map<std::string, tree::Document> tables_;
};

struct Case {
  const char* expression;
  const char* expected;  // the string value, or the message
  bool fails;
};

TEST(LookupFunctions, WithLabelsAndTables) {
  const Case cases[] = {
      {"choice-name('yes', '/data/q')", "Yes, please", false},
      {"jr:choice-name(/data/a, '  /data/q\t')", "Yes, please", false},
      // The value is passed untrimmed; only blankness is judged after trimming.
      {"choice-name(' spaced ', '/data/q')", "Spaced", false},
      {"choice-name('', '/data/q')", "", false},
      {"choice-name('no', '/data/q')",
       "choice-name(): no choice \"no\" for /data/q — the evaluator was given no choice list for "
       "that question",
       true},
      {"choice-name('yes', '/data/r')",
       "choice-name(): no choice \"yes\" for /data/r — the evaluator was given no choice list for "
       "that question",
       true},
      {"pulldata('flat', 'price', 'name', 'pear')", "3", false},
      {"pulldata('flat', 'price', 'name', ' apple')", " 2 ", false},
      {"pulldata('flat', 'price', 'name', 'plum')", "", false},
      {"pulldata('flat', 'colour', 'name', 'pear')", "", false},
      {"pulldata('wrapped', 'price', 'name', 'pear')", "4", false},
      {"pulldata('one-row', 'price', 'name', 'pear')", "", false},
      {"pulldata('empty', 'price', 'name', 'pear')", "", false},
      {"pulldata('flat', 'price', 'name', /data/a)", "", false},
      {"pulldata('Flat', 'price', 'name', 'pear')",
       "pulldata() cannot find the table 'Flat' — the form declares it as an external file, and "
       "nothing has loaded it",
       true},
  };
  auto doc = tree::parse_xml("<data><a>yes</a></data>");
  ASSERT_TRUE(doc) << doc.error();
  const LookupEnvironment env;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expression);
    auto expr = parse_expression(c.expression);
    ASSERT_TRUE(expr) << expr.error();
    auto result = evaluate(*expr, *doc, {*doc->root(), 1, 1}, env);
    if (c.fails) {
      ASSERT_FALSE(result);
      EXPECT_EQ(result.error(), c.expected);
    } else {
      ASSERT_TRUE(result) << result.error();
      EXPECT_EQ(value_to_string(*result), c.expected);
    }
  }
}

}  // namespace
}  // namespace tovarn::xpath
