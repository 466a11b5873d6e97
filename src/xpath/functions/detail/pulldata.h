#pragma once
// The table lookup behind pulldata().

#include <string>
#include <string_view>

#include "tree/document.h"

namespace tovarn::xpath::detail {

// The `return_column` cell of the first row whose `search_column` cell equals
// `search_value`, both trimmed; the empty text when no row matches. The rows are
// the root's children, or its only child's children when the table is wrapped
// in one extra element.
std::string pulldata_lookup(const tree::Document& table, std::string_view return_column,
                            std::string_view search_column, std::string_view search_value);

}  // namespace tovarn::xpath::detail
