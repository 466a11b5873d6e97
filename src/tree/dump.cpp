#include "tree/detail/dump.h"

namespace tovarn::tree::detail {
namespace {

void dump_start(const Document& doc, NodeId e, std::string& out) {
  out += doc.name(e);
  if (!doc.text(e).empty()) {
    out += '"';
    out += doc.text(e);
    out += '"';
  }
  if (!doc.attributes(e).empty()) {
    out += '[';
    const char* sep = "";
    for (NodeId a : doc.attributes(e)) {
      out += sep;
      out += doc.name(a);
      out += "=\"";
      out += doc.text(a);
      out += '"';
      sep = " ";
    }
    out += ']';
  }
}

}  // namespace

std::string dump(const Document& doc, NodeId top) {
  std::string out;
  NodeId cur = top;
  for (;;) {
    dump_start(doc, cur, out);
    if (auto child = doc.first_child(cur)) {
      out += '(';
      cur = *child;
      continue;
    }
    for (;;) {
      if (cur == top) return out;
      if (auto next = doc.next_sibling(cur)) {
        out += ' ';
        cur = *next;
        break;
      }
      cur = *doc.parent(cur);
      out += ')';
    }
  }
}

std::string dump(const Document& doc) {
  auto root = doc.root();
  return root ? dump(doc, *root) : std::string();
}

}  // namespace tovarn::tree::detail
