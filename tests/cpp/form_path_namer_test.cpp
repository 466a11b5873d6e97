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
