#include "xpath/functions/detail/pulldata.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace tovarn::xpath::detail {
namespace {

using Row = std::vector<std::pair<const char*, const char*>>;  // cell name, text

// <root> rows </root>, or <instance><data> rows </data></instance> when wrapped.
tree::Document table(const std::vector<Row>& rows, bool wrapped) {
  tree::Document doc;
  tree::NodeId root = doc.new_element(wrapped ? "instance" : "root", "");
  doc.set_root(root);
  tree::NodeId parent = root;
  if (wrapped) {
    parent = doc.new_element("data", "");
    doc.append_child(root, parent);
  }
  for (const Row& cells : rows) {
    tree::NodeId row = doc.new_element("item", "");
    doc.append_child(parent, row);
    for (auto [name, text] : cells) {
      tree::NodeId cell = doc.new_element(name, text);
      doc.append_child(row, cell);
    }
  }
  doc.reindex_document_order();
  return doc;
}

const std::vector<Row> kFruit = {
    {{"name", "pear"}, {"price", "3"}},
    {{"name", "  apple\t"}, {"price", " 2 "}},
    {{"price", "9"}},
    {{"name", "fig"}},
    {{"name", "fig"}, {"price", "7"}},
};

struct Case {
  const char* search_value;
  const char* return_column;
  const char* search_column;
  const char* expected;
};

TEST(PulldataLookup, FirstMatchingRow) {
  const Case cases[] = {
      {"pear", "price", "name", "3"},
      {" apple ", "price", "name", " 2 "},  // both sides trimmed, the result not
      {"plum", "price", "name", ""},
      {"", "price", "name", "9"},           // a missing cell is blank
      {"fig", "price", "name", ""},         // the first match decides
      {"3", "name", "price", "pear"},
      {"pear", "colour", "name", ""},
      {"pear", "price", "nom", ""},
      {"Pear", "price", "name", ""},
  };
  for (bool wrapped : {false, true}) {
    tree::Document doc = table(kFruit, wrapped);
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << (wrapped ? "wrapped " : "") << c.search_value);
      EXPECT_EQ(pulldata_lookup(doc, c.return_column, c.search_column, c.search_value),
                c.expected);
    }
  }
}

TEST(PulldataLookup, OddTables) {
  tree::Document empty;
  EXPECT_EQ(pulldata_lookup(empty, "price", "name", ""), "");
  tree::Document no_rows = table({}, false);
  EXPECT_EQ(pulldata_lookup(no_rows, "price", "name", ""), "");
  // A root holding one row is read as a wrapper: the row's cells become rows,
  // and they have no cells of their own.
  tree::Document one_row = table({{{"name", "pear"}, {"price", "3"}}}, false);
  EXPECT_EQ(pulldata_lookup(one_row, "price", "name", "pear"), "");
  EXPECT_EQ(pulldata_lookup(one_row, "price", "name", ""), "");
}

}  // namespace
}  // namespace tovarn::xpath::detail
