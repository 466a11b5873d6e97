#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "form/recompute.h"
#include "form/environment.h"
#include "form/session.h"
#include "tree/xml.h"
#include "unicode/unicode.h"
#include "xpath/evaluate.h"
#include "xpath/parse.h"
#include "support.h"

namespace tovarn::form {
namespace {

std::string written(const tree::Document& doc) {
  return tree::write_xml(doc).substr(std::string_view("<?xml version='1.0' ?>").size());
}

using test_support::read;

// A session over no form: only the instance and the templates matter.
Session bare(tree::Document instance, Templates templates = {}) {
  return Session{std::move(instance), FormModel{}, xpath::Clock("", ""), std::move(templates)};
}

TEST(PrimaryInstance, Refusals) {
  struct Case {
    const char* form;
    const char* message;
  } cases[] = {
      {"<h>", "XForm XML: unclosed elements"},
      {"<h><model/></h>", "the XForm has no primary instance"},
      {"<instance><data/></instance>", "the XForm has no primary instance"},
      {"<h><instance>text</instance></h>", "the XForm's primary instance is empty"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.form);
    auto instance = primary_instance(std::string_view(c.form));
    ASSERT_FALSE(instance.has_value());
    EXPECT_EQ(instance.error(), c.message);
  }
}

TEST(PrimaryInstance, FirstInstanceElementWhateverItsId) {
  auto instance = primary_instance(std::string_view(
      "<h><instance id='x'><data a='1'><q>t</q></data><more/></instance><instance><b/></instance></h>"));
  ASSERT_TRUE(instance.has_value());
  EXPECT_EQ(written(*instance), "<data a=\"1\"><q>t</q></data>");
  EXPECT_EQ(instance->order_size(), 3u);
}

TEST(ExtractTemplates, KeysAndWhatIsLeft) {
  struct Case {
    const char* instance;
    std::vector<std::pair<std::string, std::string>> templates;
    const char* left;
  } cases[] = {
      {"<data><r template=''><x/></r><r><x>1</x></r></data>",
       {{"/data/r", "<r><x/></r>"}},
       "<data><r><x>1</x></r></data>"},
      {"<data><r t:template='' a='1'>1</r><r template='false'>2</r></data>",
       {{"/data/r", "<r>2</r>"}},
       "<data/>"},
      {"<data><g/><g><r template=''/></g></data>", {{"/data/g/r", "<r/>"}}, "<data><g/><g/></data>"},
      // The outer copy keeps the inner element, unmarked; the inner one is
      // keyed by its path in the form's instance.
      {"<data><r template=''><x/><s template='' b='2'><y/></s></r></data>",
       {{"/data/r", "<r><x/><s b=\"2\"><y/></s></r>"}, {"/data/r/s", "<s b=\"2\"><y/></s>"}},
       "<data/>"},
      {"<data template=''><q/></data>", {}, "<data template=\"\"><q/></data>"},
      // Paths of names: the rows of g share one, and so do the templates
      // below them, the later replacing the earlier.
      {"<data><g template=''/><g><r template=''/><r template=''><x/></r></g><g/></data>",
       {{"/data/g", "<g/>"}, {"/data/g/r", "<r><x/></r>"}},
       "<data><g/><g/></data>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.instance);
    tree::Document instance = read(c.instance);
    Templates templates = extract_templates(instance);
    std::vector<std::pair<std::string, std::string>> got;
    for (const std::uint32_t repeat : templates.outline.repeats()) {
      tree::Document alone;
      alone.set_root(tree::copy_subtree(alone, templates.rows, *templates.outline.entry(repeat).row));
      got.emplace_back(templates.outline.path(repeat), written(alone));
    }
    EXPECT_EQ(got, c.templates);
    EXPECT_EQ(written(instance), c.left);
    EXPECT_TRUE(instance.order_is_current());
  }
  tree::Document empty;
  EXPECT_TRUE(extract_templates(empty).outline.empty());
}

TEST(SessionPaths, InstanceWithoutRoot) {
  Session session = bare(tree::Document{});
  EXPECT_EQ(first_node(session, "/data/q"), std::nullopt);
  EXPECT_EQ(value_at(session, "/data/q"), "");
  EXPECT_TRUE(rows_at(session, "/data/r").empty());
  auto refused = set_value(session, "/data/q", "1");
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error(), "the instance has no root");
  // The checks of the path come first.
  auto indexed = set_value(session, "/data/r[x]", "1");
  ASSERT_FALSE(indexed.has_value());
  EXPECT_EQ(indexed.error(),
            "'/data/r[x]' points at r[x], which does not exist \u2014 add the row first with "
            "add_row()");
}

TEST(SessionPaths, RowsAt) {
  Session session = bare(read("<data><r>1</r><g><r>2</r><r>3</r></g><r>4</r></data>"));
  struct Case {
    const char* path;
    std::vector<std::string> rows;
  } cases[] = {
      {"/data/r", {"1", "4"}}, {"/r", {"1", "4"}},       {"/data/g/r", {"2", "3"}},
      {"r", {}},               {"/data/r[1]", {}},       {"/data/", {}},
      {"/data/x/r", {}},       {"/data/g[1]/r", {"2", "3"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::vector<std::string> texts;
    for (tree::NodeId row : rows_at(session, c.path))
      texts.emplace_back(session.instance.text(row));
    EXPECT_EQ(texts, c.rows);
  }
}

TEST(SessionRows, EmptyTemplateAndMissingParent) {
  tree::Document form_instance = read("<data><g><r template=''/></g></data>");
  Templates templates = extract_templates(form_instance);
  Session session = bare(read("<data a='1'/>"), templates);
  auto nowhere = add_row(session, "/data/g/r");
  ASSERT_FALSE(nowhere.has_value());
  EXPECT_EQ(nowhere.error(), "'/data/g/r' has nowhere to hang");

  session.templates.rows = tree::Document{};
  auto empty = add_row(session, "/data/g/r");
  ASSERT_FALSE(empty.has_value());
  EXPECT_EQ(empty.error(), "the template for '/data/g/r' is empty");
  EXPECT_EQ(written(session.instance), "<data a=\"1\"/>");
}

TEST(Recompute, InstanceWithoutRoot) {
  auto form = load_form_model(
      "<h><model><instance><data><q/></data></instance>"
      "<instance id='t'><root><v/></root></instance>"
      "<bind nodeset='/data/q' calculate='1'/>"
      "<bind nodeset=\"instance('t')/root/v\" calculate='2' relevant='true()'/></model></h>");
  ASSERT_TRUE(form.has_value()) << form.error();
  Session session{tree::Document{}, std::move(*form), xpath::Clock("", ""), {}};
  RecomputeResult result = recompute_session(session);
  EXPECT_TRUE(result.calculated.empty());
  EXPECT_EQ(result.relevant, (std::map<std::string, bool>{{"/instance/root/v", true}}));
  EXPECT_TRUE(result.failed.empty());
  EXPECT_FALSE(session.instance.root().has_value());
}

// Every replaced text leaves its bytes behind: a session answered for ever,
// or recomputed for ever with a calculation written each time, must not grow.
TEST(SessionStorage, BoundedOverLongEditing) {
  // The saved instance lacks g/y, which the form has.
  auto made = session_with_instance(
      "<h><model><instance><data><q/><g><x>1</x><y/></g></data></instance>"
      "<bind nodeset='/data/g' calculate='concat(/data/q, \"!\")'/></model></h>",
      "<data><q/><g><x>1</x></g></data>", xpath::Clock("", ""));
  ASSERT_TRUE(made.has_value()) << made.error();
  Session& session = *made;
  const std::string answer(1000, 'a');
  for (int i = 0; i < 5000; ++i) {
    ASSERT_TRUE(set_value(session, "/data/q", answer + std::to_string(i % 10)).has_value());
    if (i % 10 == 0) {
      RecomputeResult result = recompute_session(session);
      ASSERT_EQ(result.calculated.size(), 1u);
    }
  }
  EXPECT_LT(session.instance.stored_bytes(), std::size_t{1} << 20);
  EXPECT_EQ(value_at(session, "/data/q"), answer + "9");
  EXPECT_EQ(value_at(session, "/data/g"), answer + "0!1");
  ASSERT_TRUE(set_value(session, "/data/g/y", "new").has_value());
  EXPECT_EQ(written(session.instance).substr(0, 9), "<data><q>");
  EXPECT_EQ(value_at(session, "/data/g/y"), "new");
}

}  // namespace
}  // namespace tovarn::form

namespace tovarn::form {
namespace {

// The index answers exactly what the evaluator answers, for every plain path.
TEST(PathIndex, AgreesWithTheEvaluator) {
  tree::Document doc = read(
      "<data a='1'><r><x>1</x></r><r><y/></r><r><x>2</x><x>3</x></r><g><r><x>4</x></r></g>"
      "<data><q>inner</q></data><q>outer</q></data>");
  PathIndex index;
  index.build(doc);
  ASSERT_TRUE(index.fresh(doc));
  xpath::Clock clock("", "");
  const char* plain[] = {
      "/data",        "/data[1]",      "/data[2]",      "/data/r",      "/data/r/x",
      "/data/r/y",    "/r/x",          "/data/r[2]/x",  "/data/r[3]/x", "/data/r[3]/x[2]",
      "/data/r[0]/x", "/data/r[1.5]",  "/data/r[4]",    "/data/r[1.0]", "/data/g/r/x",
      "/data/data/q", "/data/q",       "/q",            "/data/nothing", "/nothing/x",
      "/x",           "/data/r/x[3]",  "/data[1]/r[3]/x[2]",
  };
  for (const char* text : plain) {
    SCOPED_TRACE(text);
    auto expr = xpath::parse_expression(text);
    ASSERT_TRUE(expr.has_value()) << expr.error();
    std::optional<tree::NodeId> indexed;
    ASSERT_TRUE(index.first(doc, *expr, indexed));
    auto value = xpath::evaluate(*expr, doc, xpath::EvalContext{*doc.root(), 1, 1}, clock);
    ASSERT_TRUE(value.has_value()) << value.error();
    const auto& ids = std::get<xpath::NodeSet>(*value).ids;
    std::optional<tree::NodeId> evaluated;
    if (!ids.empty()) evaluated = ids.front();
    EXPECT_EQ(indexed, evaluated);
  }
  const char* unplain[] = {"/",  "data/r", "/data/@a", "//x", "/data/r[last()]", "/data/*",
                           "/data/r[x = 2]", "/data/r[1][1]", "/data/r[-1]", "/data/.."};
  for (const char* text : unplain) {
    SCOPED_TRACE(text);
    auto expr = xpath::parse_expression(text);
    ASSERT_TRUE(expr.has_value()) << expr.error();
    std::optional<tree::NodeId> indexed;
    EXPECT_FALSE(index.first(doc, *expr, indexed));
  }
}

TEST(PathIndex, StaleOnceTheStructureChanges) {
  tree::Document doc = read("<data><r/><r/></data>");
  PathIndex index;
  EXPECT_FALSE(index.fresh(doc));
  index.build(doc);
  EXPECT_TRUE(index.fresh(doc));
  doc.set_text(*doc.first_child(*doc.root()), "text");
  EXPECT_TRUE(index.fresh(doc));
  doc.detach(*doc.first_child(*doc.root()));
  EXPECT_FALSE(index.fresh(doc));
  doc.reindex_document_order();
  EXPECT_FALSE(index.fresh(doc));
  index.build(doc);
  doc.append_child(*doc.root(), doc.new_element("r", ""));
  doc.reindex_document_order();
  EXPECT_FALSE(index.fresh(doc));
}

}  // namespace
}  // namespace tovarn::form

namespace tovarn::form {
namespace {

TEST(ControlsByRef, FindWhatControlByRefFinds) {
  tree::Document form = read(
      "<input ref='/top'><body><select1 ref=' /data/a '/><input ref='/data/a'/><odk:rank ref='/data/r'/>"
      "<group ref='/data/g'/><upload ref=''/><range ref='/data/n' ref='/data/m'/>"
      "<select><label ref='/data/l'/></select></body></input>");
  ControlsByRef controls = controls_by_ref(form);
  const char* paths[] = {"/top", "/data/a", " /data/a", "/data/r", "/data/g", "", "  ",
                         "/data/n", "/data/m", "/data/l", "/data/none"};
  for (const char* path : paths) {
    SCOPED_TRACE(path);
    auto found = controls.find(unicode::trim(path));
    std::optional<tree::NodeId> indexed;
    if (found != controls.end()) indexed = found->second;
    EXPECT_EQ(indexed, control_by_ref(form, path));
  }
}

}  // namespace
}  // namespace tovarn::form
