#include <gtest/gtest.h>

#include <string>

#include "form/judge.h"
#include "tree/query.h"
#include "tree/xml.h"
#include "xpath/environment.h"
#include "support.h"

namespace tovarn::form {
namespace {

using test_support::load;

const char* kForm =
    "<h><model><instance><data><g><q/></g></data></instance>"
    "<instance id='z'><root><item>1</item></root></instance>"
    "<instance id='a'><root/></instance>"
    "<bind nodeset='/data/g' relevant='false()'/>"
    "<bind nodeset='/data/g/q' relevant='true()' required='true()'/>"
    "<bind nodeset='/data/g/@n' relevant='uuid()'/>"
    "<bind nodeset=\"instance('z')/root/item\" constraint='false()'/>"
    "</model></h>";

TEST(ModelDocument, InstanceThenSecondaryInstancesById) {
  FormModel form = load(kForm);
  auto instance = tree::parse_xml("<data n='1'><g n='2'/></data>");
  ASSERT_TRUE(instance.has_value());
  tree::Document model = model_document(form, *instance);
  tree::NodeId root = *model.root();
  EXPECT_EQ(model.name(root), "model");
  EXPECT_TRUE(model.attributes(root).empty());
  std::vector<std::string> children;
  for (tree::NodeId c : model.children(root))
    children.push_back(std::string(model.name(c)) + "/" +
                       std::string(tree::attribute_value(model, c, "id").value_or("-")));
  EXPECT_EQ(children, (std::vector<std::string>{"data/-", "instance/a", "instance/z"}));
  EXPECT_EQ(model.order_size(), model.size());
}

TEST(ModelDocument, ReportedPath) {
  struct Case {
    const char* node_path;
    const char* reported;
  } cases[] = {
      {"/model/data/q", "/data/q"}, {"/model", ""}, {"/model[1]/x", "[1]/x"}, {"/mode", "/mode"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.node_path);
    EXPECT_EQ(reported_path(c.node_path), c.reported);
  }
}

TEST(JudgeSubmission, InstanceWithoutRootJudgesOnlySecondaryInstances) {
  FormModel form = load(kForm);
  std::vector<SubmissionFinding> findings =
      judge_submission(form, tree::Document{}, xpath::Clock("", ""));
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].nodeset, "instance('z')/root/item");
  EXPECT_EQ(findings[0].path, "/instance[2]/root/item");
  EXPECT_EQ(finding_text(findings[0]),
            "/instance[2]/root/item: the answer does not satisfy the form's constraint");
}

TEST(Relevance, MapOfEveryBoundNode) {
  FormModel form = load(kForm);
  auto instance = tree::parse_xml("<data><g n='x'><q/></g><g><q/></g></data>");
  ASSERT_TRUE(instance.has_value());
  tree::Document model = model_document(form, *instance);
  xpath::Clock clock("", "");
  std::vector<SubmissionFinding> findings;
  RelevanceMap map = relevance(form.binds, model, clock, findings);
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].path, "/model/data/g[1]/n");  // callers cut the prefix
  EXPECT_TRUE(std::holds_alternative<FindingKind::NotEvaluated>(findings[0].kind.value));

  std::vector<std::string> relevant, hidden;
  for (std::uint32_t i = 0; i < map.by_node.size(); ++i) {
    std::string path = tree::node_path(model, tree::NodeId{i});
    if (map.by_node[i] == RelevanceMap::State::relevant) relevant.push_back(path);
    if (map.by_node[i] == RelevanceMap::State::not_relevant) hidden.push_back(path);
  }
  EXPECT_EQ(relevant, (std::vector<std::string>{"/model/instance[2]/root/item"}));
  EXPECT_EQ(hidden, (std::vector<std::string>{"/model/data/g[1]", "/model/data/g[1]/n",
                                              "/model/data/g[1]/q", "/model/data/g[2]",
                                              "/model/data/g[2]/q"}));
  EXPECT_TRUE(map.relevant(tree::NodeId{0}));  // unbound
}

}  // namespace
}  // namespace tovarn::form
