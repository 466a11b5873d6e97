#include <gtest/gtest.h>

#include <expected>
#include <string>
#include <string_view>

#include "tree/detail/dump.h"
#include "tree/xml.h"

namespace tovarn::tree {
namespace {

std::string dump_or_error(const std::expected<Document, std::string>& doc) {
  return doc ? detail::dump(*doc) : "error: " + doc.error();
}

// The document's dump, or "error: " and the message; both readings (copies
// and in place) must give it.
std::string read(std::string_view xml) {
  const std::string copied = dump_or_error(parse_xml(xml));
  const std::string in_place = dump_or_error(parse_xml_in_place(std::string(xml)));
  if (in_place != copied) return "copied: " + copied + " | in place: " + in_place;
  return copied;
}

TEST(Reader, DocumentsAndRefusals) {
  struct Case {
    std::string_view xml;
    std::string_view result;
  };
  static const Case cases[] = {
      {"<?xml version='1.0'?><data/>", "data"},
      {"<h:html xmlns:h='u' xmlns='v'/>", "html[h=\"u\" xmlns=\"v\"]"},
      {"<a b = '1' c='x&amp;lt;y'/>", "a[b=\"1\" c=\"x&lt;y\"]"},
      {"<a b=1 c='2'/>", "a"},
      {"<a b='1' c=2 d='3'/>", "a[b=\"1\"]"},
      {"<a b='1' 'c='/>", "a[b=\"1\"]"},  // unterminated value: the last key is dropped
      {"<a k'=' b=''/>", "a[k'=\" b=\"]"},
      {"<a title='x>y'>t</a>", "a\"t\"[title=\"x>y\"]"},
      {"<a t=\"it's\"/>", "a[t=\"it's\"]"},
      {"<a b='1'c='2'/>", "a[b=\"1\" c=\"2\"]"},
      {"<a x b='1'/>", "a[x b=\"1\"]"},
      {"<a ='1' b='2'/>", "a[b=\"2\"]"},  // an empty key yields nothing
      {"<a jr:template='' x:b='1' y:b='2'/>", "a[template=\"\" b=\"1\" b=\"2\"]"},
      {"<a b='1' b='2'/>", "a[b=\"1\" b=\"2\"]"},
      {"<a\tb='1'\n/>", "a[b=\"1\"]"},
      {"<a\xC2\xA0" "b='1'/>", "a[b=\"1\"]"},  // U+00A0 separates like a space
      {"<a b=\xE3\x80\x80'1'/>", "a[b=\"1\"]"},  // U+3000 after the '='
      {"<a//>", "a"},
      {"<a/ />", "a/"},  // only trailing slashes mark an empty-element tag
      {"<>x</>", "\"x\""},
      {"<a> 1 </a>", "a\" 1 \""},
      {"<a>   </a>", "a"},
      {"<a>\xE2\x80\x83</a>", "a"},  // U+2003 is white space: blank
      {"<a>\xE2\x80\x8B</a>", "a\"\xE2\x80\x8B\""},  // U+200B is not
      {"<a></a>", "a"},
      {"<a>x<b/>y</a>", "a\"x\"(b)"},
      {"<a>x<!-- c -->y</a>", "a\"x\""},
      {"<a><!-- <b> --></a>", "a"},
      {"<a><![CDATA[1 < 2]]></a>", "a\"1 < 2\""},
      {"<a>&lt;&gt;&quot;&apos;&amp;&amp;amp;&#60;&nbsp;</a>", "a\"<>\"'&&amp;<&nbsp;\""},
      {"<a>&#60;</a>", "a\"<\""},
      // In place, a text is decoded over its own bytes, but never over a
      // kept name: here the tag's name runs on into its attribute's value.
      {"< a='&amp;lt;' b='&lt;'>&gt;&amp;</ a='&amp;lt;'>", "a='&amp;lt;'\">&\"[a=\"&lt;\" b=\"<\"]"},
      {"<a b='&lt;&amp;' c='&gt;'>x&amp;y<b c='&quot;'>&apos;</b></a>", "a\"x&y\"[b=\"<&\" c=\">\"](b\"'\"[c=\"\"\"])"},
      {"<x:a></y:a>", "a"},
      {"<a></ a >", "a"},
      {"junk<a/>junk", "a"},
      {"<!DOCTYPE a><?pi x?><a/><!-- after -->", "a"},
      {"<a><b><c/></b><d>t</d></a>", "a(b(c) d\"t\")"},
      {"<a>\n  <b>1</b>\n  <c>\n  </c>\n</a>\n", "a(b\"1\" c)"},
      {"<a></b>", "error: closing </b> does not match open <a>"},
      {"<a><b></a>", "error: closing </a> does not match open <b>"},
      {"</a>", "error: closing tag without opening"},
      {"<a/></a>", "error: closing tag without opening"},
      {"<a/><b/>", "error: more than one root element"},
      {"<a></a><b>", "error: more than one root element"},
      {"<a>", "error: unclosed elements"},
      {"<a><b>", "error: unclosed elements"},
      {"<a", "error: unterminated tag"},
      {"<a b='>", "error: unterminated tag"},
      {"<a><", "error: unterminated tag"},
      {"<a>x</a", "error: unterminated tag"},
      {"", "error: no root element"},
      {"just text", "error: no root element"},
      {"<?xml version='1.0'?><!-- c -->", "error: no root element"},
      {"<!", "error: no root element"},
      // End tags are compared with the open element's name; names holding a
      // quote take the general reading, where the quote opens a value.
      {"<a\"b c\"d>x</a\"b>", "error: unterminated tag"},
      {"<q\"x\"><b>1</b></q\"x\">", "q\"x\"(b\"1\")"},
      {"<q\"x\"><b>1</b></q\"x\"><c/>", "error: more than one root element"},
      {"<a><b>1</b></a >", "a(b\"1\")"},
      {"<a><b>1</b></ab>", "error: closing </ab> does not match open <a>"},
      {"<ab><b>1</b></a>", "error: closing </a> does not match open <ab>"},
      {"<a:b><c>1</c></d:b>", "b(c\"1\")"},
      // A name that runs into the attributes stores some bytes twice.
      {"<\tabc='xyz'/>", "abc='xyz'[abc=\"xyz\"]"},
      // Names longer than sixteen bytes, with the local part after a late ':'.
      {"<p:abcdefghijklmnop:qrstuvwxyz k='v'>t</q:qrstuvwxyz>", "qrstuvwxyz\"t\"[k=\"v\"]"},
      {"<abcdefghijklmnopqrstuvwxyz0123456789>t</abcdefghijklmnopqrstuvwxyz0123456789>",
       "abcdefghijklmnopqrstuvwxyz0123456789\"t\""},
      {"<a\x01" "b>t</a\x01" "b>", "a\x01" "b\"t\""},  // a control byte is a plain name byte
      {"<a>x &amp; y</a>", "a\"x & y\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.xml);
    EXPECT_EQ(read(c.xml), c.result);
  }
}

// Comments, instructions, DOCTYPE, CDATA, character references, line ends
// and the byte-order mark, as XML reads them.
TEST(Reader, XmlConstructs) {
  struct Case {
    std::string_view xml;
    std::string_view result;
  };
  static const Case cases[] = {
      // Nothing inside a comment counts; it ends a text run as a tag does.
      {"<data><!-- <q>x</q> --><b>1</b></data>", "data(b\"1\")"},
      {"<a>x<!-- c -->y</a>", "a\"x\""},
      {"<a><!-- > -- <b/> -->t</a>", "a"},
      {"<a><!---->t</a>", "a"},
      {"<!-- <a> --><b/>", "b"},
      {"<a><!-- x</a>", "error: unterminated comment"},
      {"<a/><!--", "error: unterminated comment"},
      {"<a><!--></a>", "error: unterminated comment"},
      // Instructions and DOCTYPE, internal subset included, are skipped whole.
      {"<?pi <b/> ?><a/>", "a"},
      {"<a><?pi x?>t</a>", "a"},
      {"<?pi <a/>", "error: unterminated processing instruction"},
      {"<!DOCTYPE a SYSTEM 'x>y'><a/>", "a"},
      {"<!DOCTYPE a [<!ENTITY e 'v>]'><!-- ]> --><?p ]>?>]><a>&e;</a>", "a\"&e;\""},
      {"<!DOCTYPE a [<!ELEMENT a ANY>]", "error: unterminated DOCTYPE declaration"},
      {"<!DOCTYPE a '><a/>", "error: unterminated DOCTYPE declaration"},
      {"<!DOCTYPE a [<!-- <a/>", "error: unterminated DOCTYPE declaration"},
      {"<!ELEMENT <b/>", "b"},  // any other "<!": only its '<' is passed over
      // CDATA is character data, undecoded, joined with the run it stands in.
      {"<a><![CDATA[x<y]]></a>", "a\"x<y\""},
      {"<b><![CDATA[1]]></b>", "b\"1\""},
      {"<a>x<![CDATA[y]]>z</a>", "a\"xyz\""},
      {"<a>&amp;<![CDATA[&amp;]]>&lt;<![CDATA[]]>!</a>", "a\"&&amp;<!\""},
      {"<a>\n <![CDATA[ ]]>\n</a>", "a"},
      {"<a>\n <![CDATA[v]]>\n</a>", "a\"\n v\n\""},
      {"<a><![CDATA[x]]><b/>y<![CDATA[z]]></a>", "a\"x\"(b)"},
      {"<a><![CDATA[x]]></b></a>", "error: closing </b> does not match open <a>"},
      {"<a><![CDATA[x]></a>", "error: unterminated CDATA section"},
      {"<a><b/><![CDATA[x</a>", "error: unterminated CDATA section"},
      {"<![CDATA[<b>]]><a/>", "a"},
      // Character references, one pass with the named entities.
      {"<name>Ren&#233;e</name>", "name\"Ren\xC3\xA9" "e\""},
      {"<a>&#x41;&#66;&#x1F600;&#x10FFFF;</a>", "a\"AB\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF\""},
      {"<a>&amp;#60;</a>", "a\"&#60;\""},
      {"<a>&#38;lt;</a>", "a\"&lt;\""},
      {"<a>&#0;&#xD800;&#x110000;&#99999999999999999999;&#1;&#xFFFE;</a>",
       "a\"&#0;&#xD800;&#x110000;&#99999999999999999999;&#1;&#xFFFE;\""},
      {"<a>&#;&#x;&#X41;&#12a;&#65</a>", "a\"&#;&#x;&#X41;&#12a;&#65\""},
      {"<a>&#32;&#10;</a>", "a"},  // decodes to white space alone: blank
      {"<a k='&#60;&#x3e;&#233;'/>", "a[k=\"<>\xC3\xA9\"]"},
      // Line ends become LF first; then literal tab, LF, CR in an attribute
      // value become spaces, while references to them stay those characters.
      {"<a>x\r\ny\rz</a>", "a\"x\ny\nz\""},
      {"<a k='1\r\n2\r3\t4\n5'/>", "a[k=\"1 2 3 4 5\"]"},
      {"<a k='1&#10;2&#13;3&#9;4'/>", "a[k=\"1\n2\r3\t4\"]"},
      // Values long enough to be scanned 16 bytes at a time, with what needs
      // decoding before the closing quote, past it, or a block or more ahead.
      {"<a k='0123' m='x&amp;y\tz' n='0123456789abcdef0123'/>",
       "a[k=\"0123\" m=\"x&y z\" n=\"0123456789abcdef0123\"]"},
      {"<a k='01&lt;23456789' n='0123456789abcdef0123'/>",
       "a[k=\"01<23456789\" n=\"0123456789abcdef0123\"]"},
      {"<a k='0123456789\tabcdef0123456789abcdef\r\n!' n='0123456789abcdef0123'/>",
       "a[k=\"0123456789 abcdef0123456789abcdef !\" n=\"0123456789abcdef0123\"]"},
      {"<a k='0123456789abcdef0123456789abcdef' n='&gt;0123456789abcdef'/>",
       "a[k=\"0123456789abcdef0123456789abcdef\" n=\">0123456789abcdef\"]"},
      {"<a>&#13;x</a>", "a\"\rx\""},
      {"<a>\r\n x\r</a>", "a\"\n x\n\""},
      {"<a>\r\r\n&amp;\r</a>", "a\"\n\n&\n\""},
      {"<a><![CDATA[x\r\ny\r]]>\r\n</a>", "a\"x\ny\n\n\""},
      {"<a\r\nk='v'\r/>", "a[k=\"v\"]"},
      // A leading UTF-8 byte-order mark is not part of the text.
      {"\xEF\xBB\xBF<a/>", "a"},
      {"\xEF\xBB\xBF\r\n<a>\r</a>", "a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.xml);
    EXPECT_EQ(read(c.xml), c.result);
  }
}

TEST(Reader, IdsAreDocumentOrderPositions) {
  auto doc = parse_xml("<data a='1'><x b='2' c='3'><z/></x><y/>text</data>");
  ASSERT_TRUE(doc);
  ASSERT_EQ(doc->order_size(), doc->size());
  for (std::uint32_t i = 0; i < doc->size(); ++i) {
    EXPECT_EQ(doc->order_position(NodeId{i}), i);
  }
  EXPECT_EQ(doc->order_subtree_end(NodeId{0}), 6u);  // data a x b c z y
  EXPECT_EQ(doc->order_subtree_end(NodeId{2}), 5u);
  EXPECT_EQ(doc->root(), NodeId{0});
  // A record made later is outside the order until it is rebuilt.
  const NodeId added = doc->new_element("n", "");
  EXPECT_EQ(doc->order_position(added), Document::kUnindexed);
  EXPECT_EQ(doc->order_subtree_end(added), Document::kUnindexed);
  EXPECT_EQ(doc->order_size(), 7u);
}

// The reader fills in the order as it reads; a rebuild must agree with it.
TEST(Reader, OrderAgreesWithARebuild) {
  static const std::string_view cases[] = {
      "<a/>",
      "<a k='1'/>",
      "<a k='1' j='2'><b/><c x='1'/><d><e y='2'>t</e></d></a>",
      "<a><b><c><d/></c></b><e/></a>",
      "<a>x<b k='v'>y</b>z<c/></a>",
  };
  for (std::string_view xml : cases) {
    SCOPED_TRACE(xml);
    auto doc = parse_xml(xml);
    ASSERT_TRUE(doc);
    EXPECT_TRUE(doc->order_is_current());
    Document rebuilt = *doc;
    rebuilt.reindex_document_order();
    ASSERT_EQ(doc->order_size(), rebuilt.order_size());
    for (std::uint32_t i = 0; i < doc->size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(doc->order_position(NodeId{i}), rebuilt.order_position(NodeId{i}));
      EXPECT_EQ(doc->order_subtree_end(NodeId{i}), rebuilt.order_subtree_end(NodeId{i}));
      EXPECT_EQ(doc->at_order_position(i), rebuilt.at_order_position(i));
    }
  }
}

TEST(Reader, LocalName) {
  struct Case {
    std::string_view name, local;
  };
  static const Case cases[] = {
      {"h:html", "html"}, {"jr:template", "template"}, {"xmlns:jr", "jr"},
      {"a:b:c", "c"},     {"a:", ""},                  {"plain", "plain"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(local_name(c.name), c.local);
  }
}

TEST(Reader, DecodeEntities) {
  struct Case {
    std::string_view text, decoded;
  };
  static const Case cases[] = {
      {"", ""},
      {"plain", "plain"},
      {"&amp;lt;", "&lt;"},
      {"&amp;amp;", "&amp;"},
      {"&lt;&gt;&quot;&apos;&amp;", "<>\"'&"},
      {"a &lt b", "a &lt b"},
      {"&&lt;;", "&<;"},
      {"&#60;&#x3C;&nbsp;&", "<<&nbsp;&"},
      {"&amp;#60;&#38;lt;&#0;&#xD800;", "&#60;&lt;&#0;&#xD800;"},
      {"a\tb\nc", "a\tb\nc"},  // only attribute values turn them into spaces
      {"x&amp;y&amp;", "x&y&"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(decode_entities(c.text), c.decoded);
  }
}

}  // namespace
}  // namespace tovarn::tree
