#pragma once
// A compact one-line picture of a document's tree, for tests: an element is
// its name, then its text in double quotes when it has one, then its
// attributes as [k="v" ...], then its children in parentheses:
// data[a="1"](x"t" y).

#include <string>

#include "tree/document.h"

namespace tovarn::tree::detail {

std::string dump(const Document& doc, NodeId element);
// The root's dump, or "" for a document without root.
std::string dump(const Document& doc);

}  // namespace tovarn::tree::detail
