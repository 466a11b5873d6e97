// Prints the tree tovarn reads from each file named on stdin (one path a
// line), as one JSON line a file: {"elements": [[name, [[key, value], ...],
// text], ...]} with the elements in document order, or {"error": message}.
// For tests that hold the reader against another one.

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

#include "tree/xml.h"

namespace {

void json_string(std::string_view text, std::string& out) {
  out += '"';
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

std::string dump(const std::string& xml) {
  auto doc = tovarn::tree::parse_xml(xml);
  std::string out;
  if (!doc) {
    out = "{\"error\": ";
    json_string(doc.error(), out);
    return out + "}";
  }
  out = "{\"elements\": [";
  const char* sep = "";
  for (std::uint32_t p = 0; p < doc->order_size(); ++p) {
    const tovarn::tree::NodeId e = doc->at_order_position(p);
    if (doc->is_attribute(e)) continue;
    out += sep;
    out += '[';
    json_string(doc->name(e), out);
    out += ", [";
    const char* attribute_sep = "";
    for (tovarn::tree::NodeId a : doc->attributes(e)) {
      out += attribute_sep;
      out += '[';
      json_string(doc->name(a), out);
      out += ", ";
      json_string(doc->text(a), out);
      out += ']';
      attribute_sep = ", ";
    }
    out += "], ";
    json_string(doc->text(e), out);
    out += ']';
    sep = ", ";
  }
  return out + "]}";
}

}  // namespace

int main() {
  std::ios::sync_with_stdio(false);
  for (std::string path; std::getline(std::cin, path);) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    std::cout << dump(text.str()) << '\n';
  }
  return 0;
}
