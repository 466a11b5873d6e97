#include <gtest/gtest.h>

#include "form/detail/path_namer.h"

namespace tovarn::form::detail {
namespace {

using tree::Document;
using tree::NodeId;

TEST(PathNamer, PositionsOnlyAmongSeveralNamesakes) {
  Document doc;
  NodeId data = doc.new_element("data", "");
  doc.set_root(data);
  NodeId g1 = doc.new_element("group", "");
  NodeId g2 = doc.new_element("group", "");
  NodeId lone = doc.new_element("q", "");
  doc.append_child(data, g1);
  doc.append_child(data, lone);
  doc.append_child(data, g2);
  NodeId inner = doc.new_element("q", "");
  doc.append_child(g2, inner);
  NodeId n1 = doc.new_element("n", "");
  NodeId n2 = doc.new_element("n", "");
  doc.append_child(g1, n1);
  doc.append_child(g1, n2);
  doc.add_attribute(g1, "n", "x");
  doc.add_attribute(g1, "id", "y");
  doc.reindex_document_order();
  NodeId attr_n = *doc.attributes(g1).begin();
  NodeId attr_id = *++doc.attributes(g1).begin();

  PathNamer namer(doc);
  struct Case {
    NodeId node;
    const char* path;
  } cases[] = {
      {data, "/data"},          {g1, "/data/group[1]"},      {g2, "/data/group[2]"},
      {lone, "/data/q"},        {inner, "/data/group[2]/q"}, {n2, "/data/group[1]/n[2]"},
      {attr_n, "/data/group[1]/n[1]"}, {attr_id, "/data/group[1]/id"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(namer.path(c.node), c.path);
  }
}

}  // namespace
}  // namespace tovarn::form::detail

#include "tree/query.h"
#include "tree/xml.h"

namespace tovarn::form::detail {
namespace {

TEST(PathNamer, AgreesWithNodePathOnNarrowAndWideParents) {
  std::string xml = "<data r='a' question_a_1_answer='x' question_d_1_answer='y'><x/>";
  for (int i = 0; i < 30; ++i) xml += i % 7 == 3 ? "<s/>" : "<r k='1'><q/><q/><p/></r>";
  // Long names alike at both ends, some once and some twice, attributes
  // named like them: a wide parent's namesakes are grouped by a hash that
  // may not tell these apart.
  xml += "<s><r/></s><question_a_1_answer/><question_b_1_answer k='2'/><question_b_1_answer/>"
         "<question_c_1_answer question_a_1_answer='1' question_b_1_answer='2'/>"
         "<question_a_1_answer/><question_d_1_answer/></data>";
  auto doc = tree::parse_xml(xml);
  ASSERT_TRUE(doc.has_value()) << doc.error();
  PathNamer namer(*doc);
  // Asked in reverse, so parents are indexed on demand from below.
  for (std::uint32_t i = static_cast<std::uint32_t>(doc->size()); i-- > 0;) {
    SCOPED_TRACE(i);
    EXPECT_EQ(namer.path(tree::NodeId{i}), tree::node_path(*doc, tree::NodeId{i}));
  }
}

}  // namespace
}  // namespace tovarn::form::detail
