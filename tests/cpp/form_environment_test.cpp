#include <gtest/gtest.h>

#include <string>

#include "form/environment.h"
#include "form/judge.h"
#include "tree/xml.h"

namespace tovarn::form {
namespace {

const char* kForm = R"xml(<h:html xmlns:h="h" xmlns:jr="jr" xmlns:odk="odk"><h:head><model>
<itext><translation lang="en"><text id="yes"><value>Yes!</value></text>
<text id=""><value>empty id</value></text><text id="1"><value>One</value></text></translation></itext>
<instance><data><q/><city/><when/></data></instance>
<instance id="cities"><root><item><name>a</name><code>1</code><label>Ay</label></item>
<item><name> b </name><label>Bee label</label></item><item><label>nameless</label></item></root></instance>
<bind nodeset="/data/q"/></model></h:head><h:body>
<input ref=" /data/first "/><input ref="/data/first"><label>second</label></input>
<odk:rank ref="/data/ranked"/><input ref=""/><group ref="/data/group"/>
<select1 ref="/data/q">
  <item><label ref="jr:itext('yes')"/><value> 1 </value></item>
  <item><label>first two</label><value>2</value></item>
  <item><label>second two</label><value>2</value></item>
  <item><value>3</value></item>
  <item><label ref=" "/><value>4</value></item>
  <item><label>plain <b>bold</b></label><value>5</value></item>
  <itemset nodeset="instance('cities')/root/item"><value ref="name"/><label ref="label"/></itemset>
</select1>
<select1 ref="/data/city"><itemset nodeset="instance('cities')/root/item"><label ref="jr:itext(code)"/></itemset></select1>
<select1 ref="/data/code"><itemset nodeset="instance('cities')/root/item"><value ref="./code"/></itemset></select1>
<select1 ref="/data/when"><itemset nodeset="instance('cities')/root/item[today() = '']"/></select1>
<select1 ref="/data/broken"><itemset nodeset="instance('cities')/root/item[uuid()]"/></select1>
</h:body></h:html>)xml";

class FormEnvironmentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto model = load_form_model(kForm);
    ASSERT_TRUE(model.has_value()) << model.error();
    form_ = std::move(*model);
    auto instance = tree::parse_xml("<data><q/></data>");
    ASSERT_TRUE(instance.has_value());
    model_doc_ = model_document(form_, *instance);
  }
  FormModel form_;
  tree::Document model_doc_;
};

TEST_F(FormEnvironmentTest, ControlByRef) {
  const tree::Document& doc = form_.form_document;
  struct Case {
    const char* path;
    const char* first_label_or_name;  // nullptr: no control
  } cases[] = {
      {"/data/first", "input"},  {"  /data/first ", "input"}, {"/data/ranked", "rank"},
      {"", "input"},             {"/data/group", nullptr},   {"/data/none", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    auto control = control_by_ref(doc, c.path);
    if (!c.first_label_or_name) {
      EXPECT_FALSE(control.has_value());
      continue;
    }
    ASSERT_TRUE(control.has_value());
    EXPECT_EQ(doc.name(*control), c.first_label_or_name);
    EXPECT_FALSE(find_label_child(doc, *control).has_value());  // the first one has no label
  }
}

TEST_F(FormEnvironmentTest, LabelText) {
  tree::NodeId root = *model_doc_.root();
  struct Case {
    const char* text;
    const char* result;
  } cases[] = {
      {"jr:itext('yes')", "Yes!"},    {" jr:itext( 'yes' ) ", "Yes!"}, {"jr:itext('yes')))", "Yes!"},
      {"jr:itext('nope')", "nope"},   {"jr:itext(\"yes\")", "Yes!"},   {"jr:itext()", "empty id"},
      {"jr:itext(' a b ')", " a b "}, {"JR:itext('yes')", ""},         {"concat('x', 'y')", "xy"},
      {"uuid()", ""},                 {"(", ""},                       {"today()", ""},
      {"jr:itext(uuid())", "empty id"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(label_text(form_, c.text, model_doc_, root), c.result);
  }
}

TEST_F(FormEnvironmentTest, ChoiceLabel) {
  FormEnvironment env(form_, model_doc_, "2024-01-01", "now");
  struct Case {
    const char* value;
    const char* path;
    const char* label;  // nullptr: none
  } cases[] = {
      {"1", "/data/q", "Yes!"},
      {" 1", " /data/q ", "Yes!"},
      {"2", "/data/q", "first two"},
      {"3", "/data/q", nullptr},
      {"4", "/data/q", ""},
      {"5", "/data/q", "plain bold"},
      {"a", "/data/q", "Ay"},
      {"b", "/data/q", "Bee label"},
      {"", "/data/q", "nameless"},
      {"z", "/data/q", nullptr},
      {"a", "/data/city", "One"},
      {"b", "/data/city", "empty id"},
      {"", "/data/code", ""},
      {"1", "/data/code", nullptr},
      {"a", "/data/when", "a"},
      {"a", "/data/broken", nullptr},
      {"a", "/data/none", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.value) + " at " + c.path);
    auto label = env.choice_label(c.value, c.path);
    if (!c.label) {
      EXPECT_FALSE(label.has_value()) << *label;
    } else {
      ASSERT_TRUE(label.has_value());
      EXPECT_EQ(*label, c.label);
    }
  }
  EXPECT_EQ(env.today(), "2024-01-01");
  EXPECT_NE(env.instance("cities"), nullptr);
  EXPECT_EQ(env.instance("nope"), nullptr);
}

TEST_F(FormEnvironmentTest, ReadItemset) {
  const tree::Document& doc = form_.form_document;
  auto outcome = [&](const char* path) {
    return read_itemset(form_, *control_by_ref(doc, path), model_doc_).outcome;
  };
  EXPECT_EQ(outcome("/data/first"), Itemset::Outcome::no_list);
  EXPECT_EQ(outcome("/data/broken"), Itemset::Outcome::failed);
  Itemset city = read_itemset(form_, *control_by_ref(doc, "/data/city"), model_doc_);
  ASSERT_EQ(city.outcome, Itemset::Outcome::listed);
  EXPECT_EQ(city.value_name, "name");
  ASSERT_EQ(city.nodes.size(), 3u);
  EXPECT_EQ(itemset_value(city, city.nodes[1]), " b ");
  EXPECT_EQ(itemset_label(form_, city, city.nodes[0]), "One");
  EXPECT_EQ(itemset_label(form_, city, city.nodes[1]), "empty id");
  Itemset when = read_itemset(form_, *control_by_ref(doc, "/data/when"), model_doc_);
  EXPECT_EQ(when.nodes.size(), 3u);  // today() is empty here
}

}  // namespace
}  // namespace tovarn::form
