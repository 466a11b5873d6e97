#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "form/model.h"
#include "tree/detail/dump.h"
#include "tree/query.h"
#include "tree/xml.h"
#include "xpath/environment.h"
#include "xpath/evaluate.h"
#include "xpath/value.h"
#include "support.h"

namespace tovarn::form {
namespace {

std::string form(const std::string& model_children) {
  return "<h:html xmlns:h='h' xmlns:jr='jr'><h:head><model>" + model_children +
         "</model></h:head></h:html>";
}

using test_support::load;

TEST(LoadFormModel, BindFields) {
  FormModel m = load(form(
      "<instance><data/></instance>"
      "<bind nodeset=' ' ref='/data/q' jr:constraintMsg=' too big ' jr:requiredMsg='  '"
      " relevant=' ' calculate='1'/>"
      "<bind nodeset=' /data/r' readonly='true()'/>"
      "<bind nodeset='/data/[' required='true()'/>"));
  ASSERT_EQ(m.binds.size(), 3u);
  const Bind& q = m.binds[0];
  EXPECT_EQ(q.nodeset, "/data/q");
  EXPECT_EQ(q.constraintMsg, " too big ");
  EXPECT_FALSE(q.requiredMsg.has_value());
  EXPECT_FALSE(q.relevant != nullptr);
  EXPECT_TRUE(q.calculate != nullptr);
  EXPECT_TRUE(q.nodeset_plain);
  EXPECT_EQ(m.binds[1].nodeset, " /data/r");
  EXPECT_FALSE(m.binds[1].nodeset_plain);
  EXPECT_TRUE(m.binds[1].nodeset_path != nullptr);
  EXPECT_TRUE(m.binds[1].readonly != nullptr);
  EXPECT_FALSE(m.binds[2].nodeset_plain);
  EXPECT_FALSE(m.binds[2].nodeset_path != nullptr);
  EXPECT_EQ(m.calculation_order, (std::vector<std::size_t>{0}));
}

// A rule's text seen again on a later bind, next to rules that change, gives
// each bind the tree of its own text.
TEST(LoadFormModel, RulesRepeatedFromBindToBind) {
  FormModel m = load(form(
      "<instance><data/></instance>"
      "<bind nodeset='/data/a' required='1' relevant='7'/>"
      "<bind nodeset='/data/b' required='1' relevant='8'/>"
      "<bind nodeset='/data/c' required='2' relevant=' '/>"
      "<bind nodeset='/data/d' required='1' relevant='7'/>"));
  const struct {
    const char* required;
    const char* relevant;
  } expected[] = {{"1", "7"}, {"1", "8"}, {"2", nullptr}, {"1", "7"}};
  ASSERT_EQ(m.binds.size(), std::size(expected));
  xpath::Clock clock("", "");
  auto value_of = [&](const xpath::Expr& expr) {
    auto value = xpath::evaluate(expr, m.form_document, {*m.form_document.root(), 1, 1}, clock);
    return value ? xpath::value_to_string(*value) : value.error();
  };
  for (std::size_t b = 0; b < m.binds.size(); ++b) {
    SCOPED_TRACE(m.binds[b].nodeset);
    ASSERT_TRUE(m.binds[b].required != nullptr);
    EXPECT_EQ(value_of(*m.binds[b].required), expected[b].required);
    ASSERT_EQ(m.binds[b].relevant != nullptr, expected[b].relevant != nullptr);
    if (expected[b].relevant) {
      EXPECT_EQ(value_of(*m.binds[b].relevant), expected[b].relevant);
    }
  }
}

TEST(LoadFormModel, BindsAnywhereIncludingTheRoot) {
  FormModel m = load("<bind nodeset='/r'><model/><x><bind ref='/x'/></x></bind>");
  ASSERT_EQ(m.binds.size(), 2u);
  EXPECT_EQ(m.binds[0].nodeset, "/r");
  EXPECT_EQ(m.binds[1].nodeset, "/x");
}

TEST(LoadFormModel, SecondaryInstances) {
  FormModel m = load(form(
      "<instance><data/></instance>"
      "<instance id='b'><root><item k='1'>x</item></root></instance>"
      "<instance id=''><e/></instance>"
      "<instance id='b'><later/></instance>"
      "<instance id='a' src='jr://file/a.xml'/>"
      "<bind nodeset='/data'/>"));
  std::vector<std::string> ids;
  for (const auto& [id, doc] : m.secondary_instances) ids.push_back(id);
  EXPECT_EQ(ids, (std::vector<std::string>{"", "a", "b"}));
  const tree::Document& b = m.secondary_instances.at("b");
  ASSERT_TRUE(b.root().has_value());
  EXPECT_EQ(b.name(*b.root()), "instance");
  EXPECT_EQ(tree::attribute_value(b, *b.root(), "id"), "b");
  EXPECT_EQ(b.name(*b.first_child(*b.root())), "later");
  EXPECT_EQ(b.order_size(), 3u);  // instance, its id, later
}

// A load for one request copies a secondary instance when first asked for
// it, and then gives the same document the eager load holds.
TEST(LoadFormModel, SecondaryInstancesCopiedWhenAsked) {
  const std::string text = form(
      "<instance><data/></instance>"
      "<instance id='b'><root><item k='&amp;'>x &lt; y</item></root></instance>"
      "<instance id='b'><later/></instance>"
      "<instance id='c'><e/></instance>"
      "<bind nodeset='/data'/>");
  FormModel eager = load(text);
  auto lazy = load_form_model_for_request(text);
  ASSERT_TRUE(lazy.has_value()) << lazy.error();
  EXPECT_TRUE(lazy->secondary_instances.empty());
  for (std::string_view id : {"b", "c"}) {
    SCOPED_TRACE(id);
    const tree::Document* copied = secondary_instance(*lazy, id);
    ASSERT_NE(copied, nullptr);
    EXPECT_EQ(copied, secondary_instance(*lazy, id));  // copied once
    EXPECT_EQ(tree::detail::dump(*copied), tree::detail::dump(*secondary_instance(eager, id)));
  }
  EXPECT_EQ(lazy->secondary_instances.size(), 2u);
  EXPECT_EQ(secondary_instance(*lazy, "a"), nullptr);
  EXPECT_EQ(secondary_instance(eager, "a"), nullptr);
}

TEST(LoadFormModel, Itext) {
  FormModel m = load(form(
      "<bind nodeset='/data'/>"
      "<itext><translation lang='fr'>"
      "<text id='a'><value>un</value><value>deux</value></text>"
      "<text id='img'><value form='image'>jr://i.png</value></text>"
      "<text id='nested'><value>v<b>w<c>x</c></b>y</value></text>"
      "<text id='none'/><text><value>no id</value></text>"
      "<text id='a'><value>again</value></text>"
      "</translation><translation lang='en'><text id='en'><value>e</value></text></translation></itext>"));
  std::map<std::string, std::string, std::less<>> expected = {
      {"a", "again"}, {"img", "jr://i.png"}, {"nested", "vwx"}};
  EXPECT_EQ(m.itext, expected);
}

constexpr const char* kNotAnXForm = "the document is not an XForm: it has no <model> element";

// One translation of the text 't', in its language.
std::string translation(const std::string& attributes, const std::string& lang) {
  return "<translation lang='" + lang + "' " + attributes + "><text id='t'><value>" + lang +
         "</value></text></translation>";
}

// The translation marked default is read, else the first; no other is.
TEST(LoadFormModel, DefaultTranslation) {
  struct Case {
    std::string translations;
    const char* read;
  } cases[] = {
      {translation("", "fr") + translation("", "en"), "fr"},
      {translation("", "fr") + translation("default='true()'", "en"), "en"},
      {translation("", "fr") + translation("default='true'", "en"), "en"},
      {translation("", "fr") + translation("default=' true() '", "en"), "en"},
      {translation("", "fr") + translation("jr:default='true()'", "en"), "en"},
      {translation("default='false()'", "fr") + translation("", "en"), "fr"},
      {translation("", "fr") + translation("default='TRUE()'", "en"), "fr"},
      {translation("", "fr") + translation("default=''", "en"), "fr"},
      {translation("", "fr") + translation("default='true()'", "en") +
           translation("default='true()'", "de"),
       "en"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.translations);
    FormModel m = load(form("<bind nodeset='/data'/><itext>" + c.translations + "</itext>"));
    EXPECT_EQ(m.itext, (std::map<std::string, std::string, std::less<>>{{"t", c.read}}));
  }
}

// A model element anywhere, the root included and whatever its prefix, makes
// the document a form.
TEST(LoadFormModel, ModelElementAnywhere) {
  const char* forms[] = {
      "<model><bind nodeset='/a'/></model>",
      "<h:html><h:head><xf:model><bind nodeset='/a'/></xf:model></h:head></h:html>",
      "<a><bind nodeset='/a'/><b><c/><model/></b></a>",
  };
  for (const char* text : forms) {
    SCOPED_TRACE(text);
    EXPECT_EQ(load(text).binds.size(), 1u);
  }
}

TEST(LoadFormModel, Refusals) {
  struct Case {
    std::string text;
    std::string message;
  } cases[] = {
      {"<a>", "XForm XML: unclosed elements"},
      // Some other XML, not a form without rules: nothing in it is read.
      {"<data><q/></data>", kNotAnXForm},
      {"<html><body><bind/></body></html>", kNotAnXForm},
      {"<data><instance><x/></instance><bind nodeset='/x' calculate='('/></data>", kNotAnXForm},
      {form("<instance><data/></instance>"), "the XForm declares no binds, so it carries no rules"},
      {form("<bind/>"), "a <bind> has no nodeset"},
      {form("<bind nodeset='/a' calculate='1' relevant='('/>"),
       "relevant of /a: expected a node test, found None \u2014 in expression \"(\""},
      {form("<bind nodeset='/a' calculate='../b'/><bind nodeset='/b' calculate='../a'/>"),
       "these calculations depend on each other, so none of them has a defined value: "
       "/a \u2192 /b \u2192 /a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto model = load_form_model(c.text);
    ASSERT_FALSE(model.has_value());
    EXPECT_EQ(model.error(), c.message);
  }
}

TEST(LoadFormModel, CalculationsThatReadEachOther) {
  // c reads b, b reads a, a reads only a relevant-bound node and itself.
  FormModel m = load(form(
      "<bind nodeset='/d/c' calculate='../b'/>"
      "<bind nodeset='/d/b' calculate='/d/a + /d/r'/>"
      "<bind nodeset='/d/a' calculate='. + ../r'/>"
      "<bind nodeset='/d/r' relevant='/d/c'/>"));
  EXPECT_EQ(m.calculation_order, (std::vector<std::size_t>{2, 1, 0}));
}

TEST(LoadFormModel, CalculationOrderFromWhatEachReads) {
  using Loops = std::vector<std::pair<std::size_t, std::size_t>>;
  struct Case {
    const char* name;
    std::string binds;
    std::vector<std::size_t> order;
    Loops loops;
  } cases[] = {
      {"a predicate's path is read below the path it filters",
       "<bind nodeset='/d/adults' calculate='count(/d/m[age &gt;= 18])'/>"
       "<bind nodeset='/d/m/age' calculate='../dob'/>",
       {1, 0},
       {}},
      {"every calculation of a node read is read",
       "<bind nodeset='/d/x' calculate='/d/a'/><bind nodeset='/d/a' calculate='1'/>"
       "<bind nodeset='/d/a' calculate='2'/><bind nodeset='/d/a' relevant='true()'/>",
       {1, 2, 0},
       {}},
      {"a nodeset is matched by where it points, not by its text",
       "<bind nodeset='/d/x' calculate='/d/q'/><bind nodeset=' /model/d/q[1]' calculate='1'/>",
       {1, 0},
       {}},
      {"the predicates of a nodeset are read",
       "<bind nodeset='/d/r[big = 1]/flag' calculate='1'/><bind nodeset='/d/r/big' calculate='2'/>",
       {1, 0},
       {}},
      {"a wildcard, a sibling and a group's string value order calculations",
       "<bind nodeset='/d/t' calculate='sum(/d/*/v) + following-sibling::u + string(/d/g)'/>"
       "<bind nodeset='/d/h/v' calculate='1'/><bind nodeset='/d/u' calculate='2'/>"
       "<bind nodeset='/d/g/k/x' calculate='3'/>",
       {1, 2, 3, 0},
       {}},
      {"an attribute is read by its name",
       "<bind nodeset='/d/t' calculate='../q/@code'/><bind nodeset='/d/q/@code' calculate='1'/>"
       "<bind nodeset='/d/q/@other' calculate='2'/>",
       {1, 0, 2},
       {}},
      {"a row's position and count read none of its texts",
       "<bind nodeset='/d/r/label' calculate='concat(../pos, count(..), name(..))'/>"
       "<bind nodeset='/d/r/pos' calculate='position(..)'/>",
       {1, 0},
       {}},
      {"a wildcard closing a circle with an exact read makes a loop",
       "<bind nodeset='/d/a' calculate='../b + 1'/><bind nodeset='/d/b' calculate='sum(../*)'/>",
       {1, 0},
       {{0, 2}}},
      {"a wildcard that reaches its own calculation loops it alone",
       "<bind nodeset='/d/x' calculate='1'/><bind nodeset='/d/r/rest' "
       "calculate='../n + sum(../following-sibling::r[1]/rest) + /d/x'/>",
       {0, 1},
       {{1, 2}}},
      {"an exact read of its own node is no loop",
       "<bind nodeset='/d/a' calculate='. + ../a'/>",
       {0},
       {}},
      {"a nodeset that selects nothing reads nothing and is read by none",
       "<bind nodeset='3' calculate='/d/x'/><bind nodeset='/d/x' calculate='1'/>",
       {0, 1},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto m = load_form_model(form("<instance><d/></instance>" + c.binds));
    ASSERT_TRUE(m.has_value()) << m.error();
    EXPECT_EQ(m->calculation_order, c.order);
    Loops loops;
    for (const CalculationLoop& loop : m->calculation_loops) loops.emplace_back(loop.begin, loop.end);
    EXPECT_EQ(loops, c.loops);
  }
}

TEST(AttributeIfNotBlank, FirstOfItsNameDecides) {
  auto doc = tree::parse_xml("<e a=' ' x:a='v' b=' w ' c=''/>");
  ASSERT_TRUE(doc.has_value());
  tree::NodeId e = *doc->root();
  EXPECT_FALSE(attribute_if_not_blank(*doc, e, "a").has_value());
  EXPECT_EQ(attribute_if_not_blank(*doc, e, "b"), " w ");
  EXPECT_FALSE(attribute_if_not_blank(*doc, e, "c").has_value());
  EXPECT_FALSE(attribute_if_not_blank(*doc, e, "d").has_value());
}

}  // namespace
}  // namespace tovarn::form
