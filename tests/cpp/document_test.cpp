#include "tree/document.h"

#include <gtest/gtest.h>

namespace tovarn::tree {
namespace {

TEST(DocumentOrder, PreorderWithAttributesAfterTheirElement) {
  Document doc;
  NodeId data = doc.new_element("data", "");
  doc.set_root(data);
  doc.add_attribute(data, "a", "1");
  NodeId x = doc.new_element("x", "");
  doc.append_child(data, x);
  doc.add_attribute(x, "b", "2");
  NodeId y = doc.new_element("y", "");
  doc.append_child(data, y);
  doc.reindex_document_order();
  ASSERT_EQ(doc.order_size(), 5u);
  EXPECT_EQ(doc.order_position(data), 0u);
  EXPECT_EQ(doc.order_position(x), 2u);
  EXPECT_EQ(doc.order_position(y), 4u);
  EXPECT_EQ(doc.order_subtree_end(data), 4u);
  EXPECT_EQ(doc.order_subtree_end(x), 3u);
}

}  // namespace
}  // namespace tovarn::tree
