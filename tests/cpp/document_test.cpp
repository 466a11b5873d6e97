#include "tree/document.h"

#include <gtest/gtest.h>

#include <vector>
#include <sys/mman.h>

#include <string>

#include "tree/detail/dump.h"
#include "tree/xml.h"
#include "support.h"

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


using test_support::read;

NodeId child(const Document& doc, NodeId parent, std::string_view name) {
  for (NodeId c : doc.children(parent)) {
    if (doc.name(c) == name) return c;
  }
  ADD_FAILURE() << "no child " << name;
  return parent;
}

TEST(DocumentOrder, EmptyDocument) {
  Document doc;
  doc.reindex_document_order();
  EXPECT_EQ(doc.order_size(), 0u);
  EXPECT_FALSE(doc.root());
  NodeId a = doc.new_element("a", "");
  EXPECT_EQ(doc.order_position(a), Document::kUnindexed);
}

TEST(DocumentOrder, DetachedSubtreeLeavesTheOrder) {
  Document doc = read("<r><g k='1'><q>t</q></g><h/></r>");
  const NodeId r = *doc.root();
  const NodeId g = child(doc, r, "g");
  const NodeId q = child(doc, g, "q");
  doc.detach(g);
  EXPECT_FALSE(doc.order_is_current());
  doc.reindex_document_order();
  EXPECT_EQ(doc.order_size(), 2u);
  EXPECT_EQ(doc.order_position(g), Document::kUnindexed);
  EXPECT_EQ(doc.order_position(q), Document::kUnindexed);
  EXPECT_EQ(doc.order_position(child(doc, r, "h")), 1u);
  EXPECT_EQ(doc.text(q), "t");
  EXPECT_EQ(detail::dump(doc, g), "g[k=\"1\"](q\"t\")");
  EXPECT_EQ(detail::dump(doc), "r(h)");
  doc.detach(g);  // no parent: nothing happens
  EXPECT_EQ(detail::dump(doc), "r(h)");
}

TEST(DocumentOrder, NewNodesAreUnindexedUntilTheRebuild) {
  Document doc = read("<r><a/></r>");
  const NodeId x = doc.new_element("x", "");
  doc.append_child(*doc.root(), x);
  doc.add_attribute(x, "k", "v");
  EXPECT_EQ(doc.order_position(x), Document::kUnindexed);
  EXPECT_EQ(doc.order_position(NodeId{3}), Document::kUnindexed);
  doc.reindex_document_order();
  EXPECT_TRUE(doc.order_is_current());
  EXPECT_EQ(doc.order_position(x), 2u);
  EXPECT_EQ(doc.order_position(NodeId{3}), 3u);
  EXPECT_EQ(doc.order_subtree_end(*doc.root()), 3u);
}

// Whether or not the ids already run in document order, the rebuilt order
// is the same; a detached tail keeps no position.
TEST(DocumentOrder, RebuildWhetherIdsRunInOrderOrNot) {
  struct Case {
    const char* name;
    void (*edit)(Document&);
    std::vector<std::uint32_t> positions;  // by id
    std::vector<std::uint32_t> ends;       // by id
  };
  constexpr std::uint32_t kNo = Document::kUnindexed;
  static const Case kCases[] = {
      {"as read", [](Document&) {}, {0, 1, 2, 3, 4}, {4, 1, 3, 3, 4}},
      {"last detached", [](Document& d) { d.detach(NodeId{4}); }, {0, 1, 2, 3, kNo}, {3, 1, 3, 3, kNo}},
      {"first detached", [](Document& d) { d.detach(NodeId{2}); }, {0, 1, kNo, kNo, 2}, {2, 1, kNo, kNo, 2}},
      {"moved after", [](Document& d) {
         d.detach(NodeId{2});
         d.append_child(NodeId{4}, NodeId{2});
       },
       {0, 1, 3, 4, 2}, {4, 1, 4, 4, 4}},
      {"appended", [](Document& d) { d.append_child(NodeId{4}, d.new_element("n", "")); },
       {0, 1, 2, 3, 4, 5}, {5, 1, 3, 3, 5, 5}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Document doc = read("<r k='v'><a><b/></a><e/></r>");
    c.edit(doc);
    doc.reindex_document_order();
    ASSERT_EQ(doc.size(), c.positions.size());
    for (std::uint32_t i = 0; i < doc.size(); ++i) {
      EXPECT_EQ(doc.order_position(NodeId{i}), c.positions[i]) << i;
      EXPECT_EQ(doc.order_subtree_end(NodeId{i}), c.ends[i]) << i;
      if (c.positions[i] != kNo) {
        EXPECT_EQ(doc.at_order_position(c.positions[i]), NodeId{i});
      }
    }
  }
}

TEST(DocumentEdits, InsertAfter) {
  struct Case {
    std::string_view anchor;  // "" for a detached anchor
    std::string_view dump;
  };
  static const Case cases[] = {
      {"a", "r(a n b c)"},
      {"c", "r(a b c n)"},
      {"", "r(a b c)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.anchor);
    Document doc = read("<r><a/><b/><c/></r>");
    const NodeId n = doc.new_element("n", "");
    const NodeId anchor = c.anchor.empty() ? doc.new_element("z", "") : child(doc, *doc.root(), c.anchor);
    doc.insert_after(anchor, n);
    EXPECT_EQ(detail::dump(doc), c.dump);
    if (c.anchor.empty()) {
      EXPECT_FALSE(doc.parent(n));
    } else {
      EXPECT_EQ(doc.parent(n), doc.root());
      // The chain stays whole both ways.
      for (auto s = doc.first_child(*doc.root()); s; s = doc.next_sibling(*s)) {
        if (auto next = doc.next_sibling(*s)) {
          EXPECT_EQ(doc.previous_sibling(*next), s);
        }
      }
    }
  }
}

TEST(DocumentEdits, PrependChild) {
  static const std::pair<std::string_view, std::string_view> cases[] = {
      {"<r><a/><b/></r>", "r(n a b)"}, {"<r/>", "r(n)"}, {"<r><a/></r>", "r(n a)"}};
  for (const auto& [xml, dump] : cases) {
    SCOPED_TRACE(xml);
    Document doc = read(xml);
    const NodeId n = doc.new_element("n", "");
    doc.prepend_child(*doc.root(), n);
    EXPECT_EQ(detail::dump(doc), dump);
    EXPECT_EQ(doc.parent(n), doc.root());
    EXPECT_FALSE(doc.previous_sibling(n));
    // Both ends and both directions of the chain stay whole.
    std::optional<NodeId> last;
    for (auto s = doc.first_child(*doc.root()); s; s = doc.next_sibling(*s)) {
      EXPECT_EQ(doc.previous_sibling(*s), last);
      last = s;
    }
    doc.append_child(*doc.root(), doc.new_element("z", ""));
    EXPECT_EQ(detail::dump(doc), std::string(dump.substr(0, dump.size() - 1)) + " z)");
  }
}

TEST(DocumentEdits, DetachFirstMiddleLast) {
  static const std::pair<std::string_view, std::string_view> cases[] = {
      {"a", "r(b c)"}, {"b", "r(a c)"}, {"c", "r(a b)"}};
  for (const auto& [name, dump] : cases) {
    SCOPED_TRACE(name);
    Document doc = read("<r><a/><b/><c/></r>");
    const NodeId e = child(doc, *doc.root(), name);
    doc.detach(e);
    EXPECT_EQ(detail::dump(doc), dump);
    EXPECT_FALSE(doc.parent(e));
    doc.append_child(*doc.root(), e);  // detached, it can be placed again
    EXPECT_EQ(detail::dump(doc), std::string(dump.substr(0, dump.size() - 1)) + " " +
                                     std::string(name) + ")");
  }
}

TEST(DocumentEdits, RemoveAttribute) {
  Document doc = read("<r a='1' b='2' c='3'/>");
  const NodeId r = *doc.root();
  doc.remove_attribute(NodeId{2});
  EXPECT_EQ(detail::dump(doc), "r[a=\"1\" c=\"3\"]");
  doc.remove_attribute(NodeId{1});
  doc.remove_attribute(NodeId{3});
  EXPECT_EQ(detail::dump(doc), "r");
  doc.add_attribute(r, "d", "4");
  EXPECT_EQ(detail::dump(doc), "r[d=\"4\"]");
  EXPECT_EQ(doc.parent(NodeId{2}), r);
}

TEST(DocumentEdits, SetTextFromItsOwnStore) {
  Document doc = read("<r><a>first</a><b/></r>");
  const NodeId a = child(doc, *doc.root(), "a");
  const NodeId b = child(doc, *doc.root(), "b");
  doc.set_text(b, doc.text(a));
  doc.set_text(a, "changed");
  EXPECT_EQ(detail::dump(doc), "r(a\"changed\" b\"first\")");
  const NodeId c = doc.new_element(doc.text(b), doc.text(a));
  EXPECT_EQ(detail::dump(doc, c), "first\"changed\"");
}

TEST(DocumentEdits, CompactStoreKeepsWhatRecordsHold) {
  // As read, the store holds nothing the records do not: compacting it would
  // not shrink it, and is not done.
  Document doc = read("<r k='v'><a>first</a><b/></r>");
  const std::size_t read_bytes = doc.stored_bytes();
  doc.compact_store();
  EXPECT_EQ(doc.stored_bytes(), read_bytes);
  const NodeId a = child(doc, *doc.root(), "a");
  const NodeId b = child(doc, *doc.root(), "b");
  for (int i = 0; i < 100; ++i) doc.set_text(a, "text " + std::to_string(i));
  doc.set_text(b, doc.text(a));
  const std::string before = detail::dump(doc);
  const std::uint32_t position = doc.order_position(b);
  const std::size_t grown = doc.stored_bytes();
  doc.compact_store();
  EXPECT_LT(doc.stored_bytes(), grown / 4);
  EXPECT_EQ(detail::dump(doc), before);
  EXPECT_EQ(doc.order_position(b), position);
  EXPECT_EQ(doc.text(b), "text 99");
  doc.set_text(a, "after");
  EXPECT_EQ(detail::dump(doc), "r[k=\"v\"](a\"after\" b\"text 99\")");
}

TEST(CopySubtree, CopiesInDocumentOrder) {
  Document source = read("<r k='v' k='w'>t<c x='1'><d/></c><e/></r>");
  Document destination = read("<top/>");
  const NodeId copy = copy_subtree(destination, source, *source.root());
  EXPECT_EQ(index_of(copy), 1u);
  EXPECT_EQ(detail::dump(destination, copy), "r\"t\"[k=\"v\" k=\"w\"](c[x=\"1\"](d) e)");
  EXPECT_FALSE(destination.parent(copy));
  EXPECT_EQ(detail::dump(destination), "top");
  EXPECT_EQ(destination.order_size(), 1u);
  // Ids follow the source subtree's document order.
  for (std::uint32_t i = 0; i < source.size(); ++i) {
    EXPECT_EQ(destination.name(NodeId{i + 1}), source.name(NodeId{i}));
  }
}

// Subtrees whose ids run in document order are copied record by record; any
// other is walked. Both give the same copy, ids in document order, detached.
TEST(CopySubtree, SameCopyWhetherRunOrWalked) {
  const std::string xml = "<r k='v'>t<c x='1'><d>dd</d><d/></c><e y='2'>ee</e></r>";
  struct Case {
    const char* name;
    void (*prepare)(Document&);
    const char* element;  // a child of the root, or "" for the root
    const char* dump;
  };
  static const Case kCases[] = {
      {"fresh root", [](Document&) {}, "", "r\"t\"[k=\"v\"](c[x=\"1\"](d\"dd\" d) e\"ee\"[y=\"2\"])"},
      {"fresh inner", [](Document&) {}, "c", "c[x=\"1\"](d\"dd\" d)"},
      {"attribute added since the order",
       [](Document& doc) { doc.add_attribute(child(doc, *doc.root(), "c"), "z", "3"); }, "c",
       "c[x=\"1\" z=\"3\"](d\"dd\" d)"},
      {"reordered by an edit",
       [](Document& doc) {
         doc.append_child(child(doc, *doc.root(), "c"), doc.new_element("n", "nn"));
         doc.reindex_document_order();
       },
       "c", "c[x=\"1\"](d\"dd\" d n\"nn\")"},
      {"text replaced", [](Document& doc) { doc.set_text(child(doc, *doc.root(), "e"), "new"); },
       "", "r\"t\"[k=\"v\"](c[x=\"1\"](d\"dd\" d) e\"new\"[y=\"2\"])"},
      {"a copy", [](Document& doc) {
         Document copy;
         copy.set_root(copy_subtree(copy, doc, *doc.root()));
         copy.reindex_document_order();
         doc = std::move(copy);
       },
       "e", "e\"ee\"[y=\"2\"]"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Document source = read(xml);
    c.prepare(source);
    const NodeId element =
        *c.element ? child(source, *source.root(), c.element) : *source.root();
    Document destination = read("<top>x</top>");
    const NodeId copy = copy_subtree(destination, source, element);
    EXPECT_EQ(index_of(copy), 1u);
    EXPECT_EQ(detail::dump(destination, copy), c.dump);
    EXPECT_FALSE(destination.parent(copy));
    EXPECT_FALSE(destination.next_sibling(copy));
    EXPECT_EQ(detail::dump(destination), "top\"x\"");
    // Only names and texts are stored: no markup, no replaced texts.
    std::size_t bytes = std::string_view("topx").size();
    for (std::uint32_t i = 1; i < destination.size(); ++i)
      bytes += destination.name(NodeId{i}).size() + destination.text(NodeId{i}).size();
    EXPECT_EQ(destination.stored_bytes(), bytes);
    destination.append_child(*destination.root(), copy);
    destination.reindex_document_order();
    for (std::uint32_t i = 1; i < destination.size(); ++i)
      EXPECT_EQ(destination.order_position(NodeId{i}), i);
  }
}

TEST(Limits, ReaderRefusesTextsTooLargeForTheStore) {
  // Reserved, never touched: the size alone is refused.
  const std::size_t size = std::size_t{1} << 32;
  void* p = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(p, MAP_FAILED);
  auto doc = parse_xml(std::string_view(static_cast<const char*>(p), size));
  munmap(p, size);
  ASSERT_FALSE(doc);
  EXPECT_EQ(doc.error(), "XML text too large: more than 4294967294 bytes");
}


// Linking one subtree and indexing just it gives the order a rebuild gives,
// wherever it enters: as the only child after the parent's attributes,
// between siblings, last; in a document whose ids are its order and in one
// whose are not.
TEST(IndexLinkedSubtree, SameOrderAsARebuild) {
  enum class Place { only_child, middle, last };
  for (Place place : {Place::only_child, Place::middle, Place::last}) {
    for (bool ids_in_order : {true, false}) {
      SCOPED_TRACE(testing::Message() << static_cast<int>(place) << ids_in_order);
      Document doc;
      NodeId root = doc.new_element("r", "");
      doc.set_root(root);
      doc.add_attribute(root, "a", "1");
      NodeId g = doc.new_element("g", "");
      doc.append_child(root, g);
      doc.add_attribute(g, "b", "2");
      NodeId x = doc.new_element("x", "");
      doc.append_child(g, x);
      NodeId y = doc.new_element("y", "");
      doc.append_child(g, y);
      doc.append_child(y, doc.new_element("z", ""));
      NodeId empty = doc.new_element("empty", "");
      doc.append_child(root, empty);
      doc.add_attribute(empty, "d", "4");
      doc.append_child(root, doc.new_element("tail", ""));
      if (!ids_in_order) {
        doc.detach(x);
        doc.append_child(g, x);
      }
      doc.reindex_document_order();

      NodeId row = doc.new_element("row", "");
      doc.add_attribute(row, "c", "3");
      doc.append_child(row, doc.new_element("cell", "t"));
      if (place == Place::only_child) {
        doc.append_child(empty, row);
      } else if (place == Place::middle) {
        doc.insert_after(*doc.children(g).begin(), row);
      } else {
        doc.append_child(root, row);
      }
      doc.index_linked_subtree(row);
      Document rebuilt = doc;
      rebuilt.reindex_document_order();
      ASSERT_EQ(doc.order_size(), rebuilt.order_size());
      for (std::uint32_t i = 0; i < doc.size(); ++i) {
        EXPECT_EQ(doc.order_position(NodeId{i}), rebuilt.order_position(NodeId{i})) << i;
        EXPECT_EQ(doc.order_subtree_end(NodeId{i}), rebuilt.order_subtree_end(NodeId{i})) << i;
      }
      for (std::uint32_t p = 0; p < doc.order_size(); ++p)
        EXPECT_EQ(doc.at_order_position(p), rebuilt.at_order_position(p)) << p;
      EXPECT_TRUE(doc.order_is_current());
    }
  }
}

}  // namespace
}  // namespace tovarn::tree
