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
  FormModel form = load(kForm);
  // An instance root named model stands below the model root of that name.
  tree::Document model = model_document(form, test_support::read("<data/>"));
  tree::Document aside = model_document(form, test_support::read("<model/>"));
  struct Case {
    const tree::Document* model;
    const char* node_path;
    const char* reported;
  } cases[] = {
      {&model, "/model/data/q", "/data/q"}, {&model, "/model", ""},
      {&model, "/model[1]/x", "[1]/x"},     {&model, "/mode", "/mode"},
      {&aside, "/model/model/q", "/model/q"}, {&aside, "/model", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.node_path);
    EXPECT_EQ(reported_path(*c.model, c.node_path), c.reported);
  }
}

TEST(CheckSameForm, RootAndId) {
  struct Case {
    const char* form_instance;  // inside the form's first instance element
    const char* submission;
    const char* refusal;  // empty: accepted
  } cases[] = {
      {"<data id='f'/>", "<data id='f' version='1'/>", ""},
      {"<data id='f'/>", "<data/>", ""},
      {"<data id='f'/>", "<data id=' '/>", ""},
      {"<data/>", "<data id='x'/>", ""},
      {"<data id='f'/>", "<data id='x'/>", "the submission is for form 'x', and this form is 'f'"},
      {"<data id='f'/>", "<data id='f '/>", "the submission is for form 'f ', and this form is 'f'"},
      {"<data id='f'/>", "<other id='f'/>",
       "the submission's root element is <other>, and this form's instance is <data>"},
      {"<data/>", "<x:data/>", ""},
      {"<model id='m'/>", "<model id='m'/>", ""},
      {"", "<other/>", ""},
      {"text only", "<other/>", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.form_instance) + " " + c.submission);
    FormModel form = load(std::string("<h><model><instance>") + c.form_instance +
                          "</instance><bind nodeset='/x'/></model></h>");
    auto same = check_same_form(form, test_support::read(c.submission));
    EXPECT_EQ(same ? std::string() : same.error(), c.refusal);
  }
}

// The model's copy of the instance, written out.
std::string completed(std::string_view form_instance, std::string_view body,
                      std::string_view submission) {
  FormModel form = load("<h><model><instance>" + std::string(form_instance) +
                        "</instance><instance id='s'><root/></instance><bind nodeset='/x'/>"
                        "</model>" + std::string(body) + "</h>");
  tree::Document model = model_document(form, test_support::read(submission));
  tree::Document copy;
  copy.set_root(tree::copy_subtree(copy, model, *model.first_child(*model.root())));
  copy.reindex_document_order();
  return tree::write_xml(copy).substr(std::string_view("<?xml version='1.0' ?>").size());
}

TEST(ModelDocument, CompletedFromTheFormsInstance) {
  constexpr const char* kRows = "<data><rep jr:template='' n='x'><a/><b/></rep><z/></data>";
  constexpr const char* kRepeat = "<body><repeat nodeset=' /data/rep '/></body>";
  struct Case {
    const char* name;
    const char* form_instance;
    const char* body;
    const char* submission;
    const char* completed;
  } cases[] = {
      {"nothing missing", "<data><a/><b/></data>", "", "<data><a>1</a><b>2</b></data>",
       "<data><a>1</a><b>2</b></data>"},
      {"between its neighbours", "<data><a/><b/><c/></data>", "", "<data><a>1</a><c>3</c></data>",
       "<data><a>1</a><b/><c>3</c></data>"},
      {"first, before what the form lacks", "<data><a/><b/></data>", "", "<data><x/><b/></data>",
       "<data><a/><x/><b/></data>"},
      {"after what precedes it in the form", "<data><a/><b/><c/></data>", "",
       "<data><c/><a/></data>", "<data><c/><a/><b/></data>"},
      {"a group with its children", "<data><g><s>d</s><t/></g></data>", "", "<data/>",
       "<data><g><s/><t/></g></data>"},
      {"no attributes", "<data k='1'><g n='1'><s m='2'/></g></data>", "", "<data><g/></data>",
       "<data><g><s/></g></data>"},
      {"rows never added", kRows, "", "<data/>", "<data><z/></data>"},
      {"rows from the template", kRows, "", "<data><rep><b>1</b></rep><rep/><z/></data>",
       "<data><rep><a/><b>1</b></rep><rep><a/><b/></rep><z/></data>"},
      {"the template, not the first row", "<data><rep><a/></rep><rep jr:template=''><a/><b/></rep></data>",
       "", "<data><rep/></data>", "<data><rep><a/><b/></rep></data>"},
      {"repeat nodeset, no row added", "<data><rep><a/></rep><z/></data>", kRepeat, "<data/>",
       "<data><z/></data>"},
      {"repeat nodeset, rows completed", "<data><rep><a/></rep><z/></data>", kRepeat,
       "<data><rep/><rep/><z/></data>", "<data><rep><a/></rep><rep><a/></rep><z/></data>"},
      {"namesakes stand for rows", "<data><a><x/></a><a/><b/></data>", "", "<data/>",
       "<data><b/></data>"},
      {"nested rows", "<data><rep jr:template=''><sub jr:template=''><x/></sub><y/></rep></data>", "",
       "<data><rep><sub/></rep><rep/></data>",
       "<data><rep><sub><x/></sub><y/></rep><rep><y/></rep></data>"},
      {"what the form lacks stays as it is", "<data><a/></data>", "", "<data><o><p/></o></data>",
       "<data><a/><o><p/></o></data>"},
      {"another root", "<data><a/></data>", "", "<other/>", "<other/>"},
      {"a root named model", "<model><a/><g><b/></g></model>", "", "<model><g/></model>",
       "<model><a/><g><b/></g></model>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(completed(c.form_instance, c.body, c.submission), c.completed);
  }
}

// Wide elements and forms of many repeats are read by other means than the
// few of most forms: completion must come out the same for both.
TEST(ModelDocument, CompletedAlikeForFewAndManyChildrenAndRepeats) {
  for (int n : {3, 40}) {
    SCOPED_TRACE(n);
    std::string instance = "<data>", body = "<body>", submission = "<data>", expected = "<data>";
    for (int i = 0; i < n; ++i) {
      const std::string q = "q" + std::to_string(i), r = "r" + std::to_string(i);
      instance += "<" + q + "/><" + r + "><a/></" + r + ">";
      body += "<repeat nodeset='/data/" + r + "'/>";
      const std::string answer = i % 2 ? "<" + q + ">1</" + q + ">" : "";
      const std::string row = i % 3 ? "" : "<" + r + "/>";
      submission += answer + row;
      expected += answer.empty() ? "<" + q + "/>" : answer;
      if (!row.empty()) expected += "<" + r + "><a/></" + r + ">";
    }
    instance += "<m jr:template=''><b/></m><t/><t/></data>";
    submission += "<m/></data>";
    expected += "<m><b/></m></data>";
    EXPECT_EQ(completed(instance, body + "</body>", submission), expected);
  }
}

TEST(ModelDocument, CompletionLeavesTheInstanceAndIsInDocumentOrder) {
  FormModel form = load("<h><model><instance><data><a/><b/><c/></data></instance>"
                        "<bind nodeset='/data/c' required='true()'/></model></h>");
  tree::Document instance = test_support::read("<data><c>1</c></data>");
  tree::Document model = model_document(form, instance);
  EXPECT_EQ(tree::write_xml(instance), "<?xml version='1.0' ?><data><c>1</c></data>");
  std::vector<std::string> order;
  for (std::uint32_t p = 0; p < model.order_size(); ++p)
    order.push_back(tree::node_path(model, model.at_order_position(p)));
  EXPECT_EQ(order, (std::vector<std::string>{"/model", "/model/data", "/model/data/a",
                                             "/model/data/b", "/model/data/c"}));
}

// Completion walks a stack of its own: a form's instance a million deep
// completes a submission of its root alone.
TEST(ModelDocument, MillionLevelsDeepFormInstance) {
  constexpr std::size_t kDepth = 1'000'000;
  FormModel form = load("<h><model><instance>" + test_support::repeat("<a>", kDepth) +
                        test_support::repeat("</a>", kDepth) +
                        "</instance><bind nodeset='//a[not(a)]' required='true()'/></model></h>");
  std::vector<SubmissionFinding> findings =
      judge_submission(form, test_support::read("<a/>"), xpath::Clock("", ""));
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].path, test_support::repeat("/a", kDepth));
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

// Rules under a group already found not relevant may go unevaluated, but
// only where that changes nothing: a failure is still a finding, and a group
// bound again may turn relevant after its rows were reached.
TEST(Relevance, RowsUnderAGroupFoundNotRelevant) {
  struct Case {
    const char* binds;
    std::vector<std::string> relevant;
    std::size_t findings;
  } cases[] = {
      {"<bind nodeset='/data/g' relevant='false()'/>"
       "<bind nodeset='/data/g/q' relevant='false()'/>",
       {}, 0},
      {"<bind nodeset='/data/g' relevant='false()'/>"
       "<bind nodeset='/data/g/q' relevant='uuid()'/>",
       {}, 2},
      {"<bind nodeset='/data/g' relevant='false()'/>"
       "<bind nodeset='/data/g/q' relevant='false()'/>"
       "<bind nodeset='/data/g' relevant='true()'/>",
       {"/model/data/g[1]", "/model/data/g[2]"}, 0},
      {"<bind nodeset='/data/g' relevant='false()'/>"
       "<bind nodeset='/data/g/q' relevant='true()'/>"
       "<bind nodeset='/data/g' relevant='true()'/>",
       {"/model/data/g[1]", "/model/data/g[1]/q", "/model/data/g[2]", "/model/data/g[2]/q"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.binds);
    FormModel form = load(std::string("<h><model><instance><data><g><q/></g></data></instance>") +
                          c.binds + "</model></h>");
    auto instance = tree::parse_xml("<data><g><q/></g><g><q/></g></data>");
    ASSERT_TRUE(instance.has_value());
    tree::Document model = model_document(form, *instance);
    xpath::Clock clock("", "");
    std::vector<SubmissionFinding> findings;
    RelevanceMap map = relevance(form.binds, model, clock, findings);
    EXPECT_EQ(findings.size(), c.findings);
    std::vector<std::string> relevant;
    for (std::uint32_t i = 0; i < map.by_node.size(); ++i) {
      if (map.by_node[i] == RelevanceMap::State::relevant)
        relevant.push_back(tree::node_path(model, tree::NodeId{i}));
    }
    EXPECT_EQ(relevant, c.relevant);
  }
}

}  // namespace
}  // namespace tovarn::form
