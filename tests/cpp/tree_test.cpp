#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "tree/detail/dump.h"
#include "tree/query.h"
#include "tree/xml.h"
#include "support.h"

namespace tovarn::tree {
namespace {

using test_support::read;
using test_support::repeat;

// The first node, in document order, whose name is `name`.
NodeId named(const Document& doc, std::string_view name) {
  for (std::uint32_t p = 0; p < doc.order_size(); ++p) {
    if (doc.name(doc.at_order_position(p)) == name) return doc.at_order_position(p);
  }
  ADD_FAILURE() << "no node " << name;
  return NodeId{0};
}

std::string names(const Document& doc, const std::vector<NodeId>& ids) {
  std::string out;
  for (NodeId id : ids) {
    if (!out.empty()) out += ' ';
    out += doc.name(id);
  }
  return out;
}


TEST(Queries, StringValue) {
  struct Case {
    std::string_view xml, node, value;
  };
  static const Case cases[] = {
      {"<data><a>1</a><g><b>2</b>x</g></data>", "data", "12"},
      {"<data><a>1</a><g><b>2</b>x</g></data>", "g", "2"},
      {"<r>t<c>u</c></r>", "r", "tu"},
      {"<r>t<c k='v'>u<d>w</d></c><e>z</e></r>", "r", "tuwz"},
      {"<r k='v'>t</r>", "r", "t"},
      {"<r k='v'>t</r>", "k", "v"},
      {"<r><c k='v'/></r>", "r", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.xml) + " " + std::string(c.node));
    Document doc = read(c.xml);
    EXPECT_EQ(string_value(doc, named(doc, c.node)), c.value);
    std::string out = "pre:";
    append_string_value(doc, named(doc, c.node), out);
    EXPECT_EQ(out, "pre:" + std::string(c.value));
  }
}

TEST(Queries, AncestorsAndDescendants) {
  Document doc = read("<r a='1'><b><c k='2'/></b><d/></r>");
  EXPECT_EQ(names(doc, ancestors(doc, named(doc, "r"))), "");
  EXPECT_EQ(names(doc, ancestors(doc, named(doc, "a"))), "r");
  EXPECT_EQ(names(doc, ancestors(doc, named(doc, "k"))), "c b r");
  EXPECT_EQ(names(doc, descendants(doc, named(doc, "r"))), "b c d");
  EXPECT_EQ(names(doc, descendants(doc, named(doc, "b"))), "c");
  EXPECT_EQ(names(doc, descendants(doc, named(doc, "c"))), "");
  EXPECT_EQ(names(doc, descendants(doc, named(doc, "a"))), "");
}

TEST(Queries, DescendantsFollowDocumentOrderAfterEdits) {
  Document doc = read("<r><a/><b/></r>");
  const NodeId r = named(doc, "r"), a = named(doc, "a"), b = named(doc, "b");
  const NodeId x = doc.new_element("x", "1");
  const NodeId y = doc.new_element("y", "2");
  doc.insert_after(a, x);  // grafted, not yet indexed: after the indexed ones
  doc.append_child(b, y);
  EXPECT_EQ(names(doc, descendants(doc, r)), "a b x y");
  EXPECT_EQ(string_value(doc, r), "12");
  doc.reindex_document_order();
  EXPECT_EQ(names(doc, descendants(doc, r)), "a x b y");
  EXPECT_EQ(string_value(doc, r), "12");
  doc.detach(x);
  EXPECT_EQ(names(doc, descendants(doc, r)), "a b y");
}

TEST(Queries, AttributeValue) {
  Document doc = read("<r k='v' k='w' j=''/>");
  const NodeId r = named(doc, "r");
  EXPECT_EQ(attribute_value(doc, r, "k"), "v");
  EXPECT_EQ(attribute_value(doc, r, "j"), "");
  EXPECT_EQ(attribute_value(doc, r, "x"), std::nullopt);
}

TEST(Queries, DescendantText) {
  struct Case {
    std::string_view xml, name;
    std::optional<std::string_view> text;
  };
  static const Case cases[] = {
      {"<data><meta><today> </today></meta><today>2024-05-01</today></data>", "today",
       std::nullopt},
      {"<data><end> 2024-05-01T10:00:00Z </end></data>", "end", " 2024-05-01T10:00:00Z "},
      {"<today>x</today>", "today", std::nullopt},
      {"<data><a/></data>", "b", std::nullopt},
      {"<data><a>x<b>y</b></a></data>", "a", "xy"},
      {"<data><a><b> </b></a></data>", "a", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.xml);
    EXPECT_EQ(descendant_text(read(c.xml), c.name), c.text);
  }
  EXPECT_EQ(descendant_text(Document(), "a"), std::nullopt);
}

TEST(Queries, NodePath) {
  struct Case {
    std::string_view xml, node;
    std::size_t nth;  // which node of that name, in document order
    std::string_view path;
  };
  const std::string_view groups = "<data><group/><group><q id='1'/></group><n/></data>";
  const std::string_view namesakes = "<data><e n='1'><n/><n/></e><f n='2'><n/></f></data>";
  const Case cases[] = {
      {groups, "data", 0, "/data"},
      {groups, "group", 0, "/data/group[1]"},
      {groups, "group", 1, "/data/group[2]"},
      {groups, "q", 0, "/data/group[2]/q"},
      {groups, "id", 0, "/data/group[2]/q/id"},
      {groups, "n", 0, "/data/n"},
      {namesakes, "n", 0, "/data/e/n[1]"},  // the attribute
      {namesakes, "n", 2, "/data/e/n[2]"},
      {namesakes, "n", 3, "/data/f/n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.xml) + " " + std::string(c.node) + std::to_string(c.nth));
    Document doc = read(c.xml);
    std::vector<NodeId> matches;
    for (std::uint32_t p = 0; p < doc.order_size(); ++p) {
      if (doc.name(doc.at_order_position(p)) == c.node) matches.push_back(doc.at_order_position(p));
    }
    ASSERT_GT(matches.size(), c.nth);
    EXPECT_EQ(node_path(doc, matches[c.nth]), c.path);
  }
}

TEST(Queries, NodePathOfADetachedSubtreeStartsAtItsTop) {
  Document doc = read("<data><g><q/></g></data>");
  doc.detach(named(doc, "g"));
  EXPECT_EQ(node_path(doc, named(doc, "q")), "/g/q");
}

TEST(Writer, Output) {
  struct Case {
    std::string_view xml, written;
  };
  static const Case cases[] = {
      {"<data><a>1</a><b/></data>", "<data><a>1</a><b/></data>"},
      {"<?xml version='1.0'?>\n<data>\n  <a>1</a>\n  <b/>\n</data>\n", "<data><a>1</a><b/></data>"},
      {"<a>x<b/></a>", "<a><b/></a>"},
      {"<a k='1' j=\"2\"/>", "<a k=\"1\" j=\"2\"/>"},
      {"<a k='1'>t</a>", "<a k=\"1\">t</a>"},
      {"<a> 1 </a>", "<a> 1 </a>"},
      {"<a k='&quot;&amp;&lt;&apos;&gt;'/>", "<a k=\"&quot;&amp;&lt;'&gt;\"/>"},
      {"<h:html xmlns:h='u'><h:body/></h:html>", "<html h=\"u\"><body/></html>"},
      {"<a><b><c>x</c></b><d/></a>", "<a><b><c>x</c></b><d/></a>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.xml);
    EXPECT_EQ(write_xml(read(c.xml)), "<?xml version='1.0' ?>" + std::string(c.written));
  }
  EXPECT_EQ(write_xml(Document()), "<?xml version='1.0' ?>");
}

TEST(Writer, EditedTextsAndDetachedNodes) {
  Document doc = read("<r><a/><b/></r>");
  doc.set_text(named(doc, "a"), "a<b & c\n'\x01");
  doc.detach(named(doc, "b"));
  EXPECT_EQ(write_xml(doc), "<?xml version='1.0' ?><r><a>a&lt;b &amp; c\n'\x01</a></r>");
}

TEST(Writer, RoundTripIsStable) {
  const std::string_view xml =
      "<h:html xmlns:h='u'><h:head><model><instance><data id='f'><q1>a &amp; b</q1>"
      "<g><q2 k=\"x&quot;y\"/></g></data></instance></model></h:head><h:body/></h:html>";
  const std::string once = write_xml(read(xml));
  EXPECT_EQ(write_xml(read(once)), once);
}

// What the reader turns into something else (a literal CR; a tab or line
// feed in an attribute value) is written as a reference, so it comes back.
TEST(Writer, TextsComeBackAsTheyWere) {
  Document doc = read("<r><a/><b k=''/></r>");
  const std::string text = "1\r\n2\r3\t<&>\"'\n";
  doc.set_text(named(doc, "a"), text);
  doc.set_text(named(doc, "k"), text);
  const std::string written = write_xml(doc);
  EXPECT_EQ(written,
            "<?xml version='1.0' ?><r><a>1&#13;\n2&#13;3\t&lt;&amp;&gt;&quot;'\n</a>"
            "<b k=\"1&#13;&#10;2&#13;3&#9;&lt;&amp;&gt;&quot;'&#10;\"/></r>");
  const Document again = read(written);
  EXPECT_EQ(again.text(named(again, "a")), text);
  EXPECT_EQ(again.text(named(again, "k")), text);
  // A character reference is read as its character and written as itself.
  EXPECT_EQ(write_xml(read("<n k='&#10;'>Ren&#233;e</n>")),
            "<?xml version='1.0' ?><n k=\"&#10;\">Ren\xC3\xA9" "e</n>");
}

// Depth must not matter anywhere: every walk goes down, across and up.
TEST(Deep, MillionLevels) {
  constexpr std::size_t kDepth = 1'000'000;
  const std::string xml = repeat("<a>", kDepth - 1) + "<a k='v'>x</a>" + repeat("</a>", kDepth - 1);
  auto parsed = parse_xml(xml);
  ASSERT_TRUE(parsed) << parsed.error();
  Document& doc = *parsed;
  ASSERT_EQ(doc.size(), kDepth + 1);
  const NodeId deepest{static_cast<std::uint32_t>(kDepth - 1)};
  EXPECT_EQ(doc.text(deepest), "x");
  EXPECT_EQ(doc.order_position(deepest), kDepth - 1);

  const std::string written = write_xml(doc);
  EXPECT_EQ(written, "<?xml version='1.0' ?>" + repeat("<a>", kDepth - 1) + "<a k=\"v\">x</a>" +
                         repeat("</a>", kDepth - 1));

  EXPECT_EQ(string_value(doc, *doc.root()), "x");
  EXPECT_EQ(descendants(doc, *doc.root()).size(), kDepth - 1);
  EXPECT_EQ(ancestors(doc, deepest).size(), kDepth - 1);
  EXPECT_EQ(node_path(doc, deepest).size(), 2 * kDepth);

  Document copy;
  const NodeId top = copy_subtree(copy, doc, *doc.root());
  copy.set_root(top);
  copy.reindex_document_order();
  EXPECT_EQ(copy.order_size(), kDepth + 1);
  EXPECT_EQ(write_xml(copy), written);

  // Reindexing after an edit at the bottom, and a copy of the whole value.
  doc.append_child(deepest, doc.new_element("b", "y"));
  doc.reindex_document_order();
  EXPECT_EQ(doc.order_subtree_end(*doc.root()), kDepth + 1);
  EXPECT_EQ(string_value(doc, *doc.root()), "xy");
  Document value_copy = doc;
  EXPECT_EQ(descendant_text(value_copy, "b"), "y");
}

}  // namespace
}  // namespace tovarn::tree
