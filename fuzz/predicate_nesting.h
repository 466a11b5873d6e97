#pragma once
// Predicates nested inside predicates over relative paths cost the document's
// size to the power of their nesting: //*[following::*[preceding::*[...]]]
// tests every node against every node at each level. That is what the
// language asks for, not a fault, so inputs nesting brackets deeper than this
// are passed over rather than reported as hangs.

#include <algorithm>
#include <string_view>

namespace fuzz {

inline constexpr int kMaxPredicateNesting = 3;

inline bool nests_too_deep(std::string_view text) {
  int depth = 0;
  for (char c : text) {
    if (c == '[' && ++depth > kMaxPredicateNesting) return true;
    if (c == ']') depth = std::max(0, depth - 1);
  }
  return false;
}

}  // namespace fuzz
