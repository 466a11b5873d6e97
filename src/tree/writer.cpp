#include "tree/xml.h"

namespace tovarn::tree {
namespace {

constexpr std::string_view kHeader = "<?xml version='1.0' ?>";

// A reader turns a literal CR into LF, and in an attribute value a literal
// tab or LF into a space, so those are written as references to come back.
void escape(std::string_view text, std::string& out, bool attribute) {
  std::size_t run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::string_view replacement;
    switch (text[i]) {
      case '"': replacement = "&quot;"; break;
      case '&': replacement = "&amp;"; break;
      case '<': replacement = "&lt;"; break;
      case '>': replacement = "&gt;"; break;
      case '\r': replacement = "&#13;"; break;
      case '\t':
        if (!attribute) continue;
        replacement = "&#9;";
        break;
      case '\n':
        if (!attribute) continue;
        replacement = "&#10;";
        break;
      default: continue;
    }
    out.append(text, run, i - run);
    out += replacement;
    run = i + 1;
  }
  out.append(text, run);
}

void write_start(const Document& doc, NodeId element, std::string& out) {
  out += '<';
  out += doc.name(element);
  for (NodeId a : doc.attributes(element)) {
    out += ' ';
    out += doc.name(a);
    out += "=\"";
    escape(doc.text(a), out, true);
    out += '"';
  }
}

void write_end(const Document& doc, NodeId element, std::string& out) {
  out += "</";
  out += doc.name(element);
  out += '>';
}

// Writes the element and its subtree going down, across and up, so the depth
// of the document does not matter.
void write_element(const Document& doc, NodeId top, std::string& out) {
  NodeId cur = top;
  for (;;) {
    write_start(doc, cur, out);
    if (auto child = doc.first_child(cur)) {
      out += '>';
      cur = *child;
      continue;
    }
    if (doc.text(cur).empty()) {
      out += "/>";
    } else {
      out += '>';
      escape_xml(doc.text(cur), out);
      write_end(doc, cur, out);
    }
    for (;;) {
      if (cur == top) return;
      if (auto next = doc.next_sibling(cur)) {
        cur = *next;
        break;
      }
      cur = *doc.parent(cur);
      write_end(doc, cur, out);
    }
  }
}

}  // namespace

std::string write_xml(const Document& doc) {
  std::string out(kHeader);
  if (auto root = doc.root()) write_element(doc, *root, out);
  return out;
}

void escape_xml(std::string_view text, std::string& out) { escape(text, out, false); }

}  // namespace tovarn::tree
