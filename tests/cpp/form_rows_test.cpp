#include <gtest/gtest.h>

#include <string>

#include "form/model.h"
#include "support.h"
#include "xpath/detail/dump.h"
#include "xpath/parse.h"

namespace tovarn::form {
namespace {

using test_support::load;

// rep and hh are repeats by their templates, hh/m nested in hh, and list by a
// repeat's nodeset alone.
constexpr const char* kInstance =
    "<instance><data><a/>"
    "<rep jr:template=''><v/><x/><grp><y/></grp></rep>"
    "<hh jr:template=''><head/><m jr:template=''><name/><is_head/></m></hh>"
    "<list><item/></list><after/></data></instance>";

std::string form(const std::string& binds) {
  return std::string("<h:html xmlns:h='h' xmlns:jr='jr'><h:head><model>") + kInstance + binds +
         "</model></h:head><h:body><repeat nodeset='/data/list'/></h:body></h:html>";
}

std::string relevant_as_read(const char* nodeset, const char* rule) {
  FormModel m = load(form(std::string("<bind nodeset=\"") + nodeset + "\" relevant=\"" + rule +
                          "\"/>"));
  return xpath::detail::dump(*m.binds.at(0).relevant);
}

std::string as_written(const char* rule) { return xpath::detail::dump(*xpath::parse_expression(rule)); }

TEST(RulesInRows, AbsolutePathsThroughTheRowClimbFromTheNode) {
  const struct {
    const char* nodeset;
    const char* rule;
    const char* read;  // nullptr: as written
  } cases[] = {
      {"/data/rep/x", "/data/rep/v = 'd'", "eq{path{parent:* child:v} lit{\"d\"}}"},
      // The node is the row itself, or lies deeper in it.
      {"/data/rep", "/data/rep/v", "path{child:v}"},
      {"/data/rep/grp/y", "/data/rep/v", "path{parent:* parent:* child:v}"},
      {"/data/rep/@id", "/data/rep/v", "path{parent:* child:v}"},
      {"/data/rep[2]/x", "/data/rep/v", "path{parent:* child:v}"},
      {"/data/list/item", "/data/list/item", "path{parent:* child:item}"},
      // Everything after the row's step is kept, predicates read in turn.
      {"/data/rep/x", "/data/rep/grp/y[. != /data/rep/v]",
       "path{parent:* child:grp child:y[ne{path{self:*} node{parent:* child:v}}]}"},
      {"/data/rep/x", "/data/rep//y", "path{parent:* descendant-or-self:* child:y}"},
      // Anywhere in the rule; inside predicates from the rule's node.
      {"/data/rep/x", "selected(/data/rep/v, '7')", "call{selected path{parent:* child:v} lit{\"7\"}}"},
      {"/data/rep/x", "-/data/rep/v | /data/a",
       "neg{union{path{parent:* child:v} abs{child:data child:a}}}"},
      {"/data/rep/x", "count(/data/a[. = /data/rep/v])",
       "call{count abs{child:data child:a[eq{path{self:*} node{parent:* child:v}}]}}"},
      {"/data/rep/x", "instance('c')/root/item[v = /data/rep/v]",
       "filter{call{instance lit{\"c\"}} child:root child:item[eq{path{child:v} node{parent:* "
       "child:v}}]}"},
      {"/data/rep/x", "(/data/rep/v)[1]", "filter{path{parent:* child:v}[num{1}]}"},
      // Nested rows: the deepest row the path goes below.
      {"/data/hh/m/is_head", "if(/data/hh/m/name = /data/hh/head, '1', '0')",
       "call{if eq{path{parent:* child:name} path{parent:* parent:* child:head}} lit{\"1\"} "
       "lit{\"0\"}}"},
      {"/data/hh/m/is_head", "count(/data/hh/m)", "call{count path{parent:* parent:* child:m}}"},
      {"/data/hh/m/is_head", "/data/hh[1]/m/name", nullptr},
      {"/data/hh/m/is_head", "/data/hh/m[1]/name", "path{parent:* parent:* child:m[num{1}] child:name}"},
      {"/data/hh/head", "/data/hh/m/name", "path{parent:* child:m child:name}"},
      // Left as written.
      {"/data/rep/x", "/data/rep[1]/v", nullptr},
      {"/data/rep/x", "/data/rep[position() = 2]/v", nullptr},
      {"/data/rep/x", "count(/data/rep)", nullptr},
      {"/data/rep/x", "../v", nullptr},
      {"/data/rep/x", "/data/hh/head", nullptr},
      {"/data/rep/x", "/data/*/v", nullptr},
      {"/data/rep/x", "//rep/v", nullptr},
      {"/data/rep/x", "instance('c')/data/rep/v", nullptr},
      {"/data/after", "sum(/data/rep/v)", nullptr},
      {"/data/after", "/data/rep/v = 5", nullptr},
      {"/data/a", "/data/rep/v", nullptr},
      // A nodeset whose nodes' ancestors it does not spell out.
      {"/data/rep/x/..", "/data/rep/v", nullptr},
      {"//x", "/data/rep/v", nullptr},
      {"data/rep/x", "/data/rep/v", nullptr},
      {"/data/rep/@id/x", "/data/rep/v", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.nodeset) + " " + c.rule);
    EXPECT_EQ(relevant_as_read(c.nodeset, c.rule), c.read ? c.read : as_written(c.rule));
  }
}

// Binds in a row share the tree of a rule written alike (the load takes the
// tree of the bind before); the one in the row gets a tree of its own, and
// the others keep the shared one as it was.
TEST(RulesInRows, SharedTreesStayAsWritten) {
  FormModel m = load(form(
      "<bind nodeset='/data/after' relevant='/data/rep/v = 1' readonly='/data/rep/v = 1'/>"
      "<bind nodeset='/data/rep/x' relevant='/data/rep/v = 1' readonly='/data/rep/v = 1'"
      " calculate='/data/rep/v' constraint='/data/rep/v' required='/data/rep/v'/>"
      "<bind nodeset='/data/a' relevant='/data/rep/v = 1'/>"));
  const std::string written = as_written("/data/rep/v = 1");
  EXPECT_EQ(xpath::detail::dump(*m.binds[0].relevant), written);
  EXPECT_EQ(xpath::detail::dump(*m.binds[2].relevant), written);
  EXPECT_EQ(m.binds[0].relevant, m.binds[2].relevant);
  const Bind& in_row = m.binds[1];
  EXPECT_EQ(xpath::detail::dump(*in_row.relevant), "eq{path{parent:* child:v} num{1}}");
  for (const xpath::Expr* rule : {in_row.calculate, in_row.constraint, in_row.required})
    EXPECT_EQ(xpath::detail::dump(*rule), "path{parent:* child:v}");
  EXPECT_EQ(xpath::detail::dump(*in_row.readonly), written);
}

// Only the form's primary instance names its repeats, and never by its root.
TEST(RulesInRows, RepeatsOfThePrimaryInstanceOnly) {
  const struct {
    const char* instances;
    const char* read;
  } cases[] = {
      {"<instance><data jr:template=''><g><v/><x/></g></data></instance>",
       "abs{child:data child:g child:v}"},
      {"<instance><data><g><v/><x/></g></data></instance>", "abs{child:data child:g child:v}"},
      {"<instance><data><g><v/><x/></g></data></instance>"
       "<instance id='s'><data><g jr:template=''/></data></instance>",
       "abs{child:data child:g child:v}"},
      {"<instance><data><g jr:template='x'><v/><x/></g></data></instance>", "path{parent:* child:v}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.instances);
    FormModel m = load(std::string("<h:html xmlns:h='h' xmlns:jr='jr'><h:head><model>") +
                       c.instances + "<bind nodeset='/data/g/x' relevant='/data/g/v'/>" +
                       "<bind nodeset='/data/x' relevant='/data/v'/></model></h:head></h:html>");
    const std::string g = xpath::detail::dump(*m.binds[0].relevant);
    const std::string root = xpath::detail::dump(*m.binds[1].relevant);
    EXPECT_EQ(g, c.read);
    EXPECT_EQ(root, "abs{child:data child:v}");
  }
}

}  // namespace
}  // namespace tovarn::form
