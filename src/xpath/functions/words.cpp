#include "unicode/unicode.h"
#include "xpath/functions/detail/core.h"

namespace tovarn::xpath::detail {
namespace {

// Moves `pos` over characters while their White_Space property equals `space`.
void skip_while(std::string_view text, std::size_t& pos, bool space) {
  while (pos < text.size()) {
    std::size_t next = pos;
    if (unicode::is_white_space(unicode::decode(text, next)) != space) return;
    pos = next;
  }
}

}  // namespace

std::optional<std::string_view> next_word(std::string_view text, std::size_t& pos) {
  skip_while(text, pos, true);
  if (pos >= text.size()) return std::nullopt;
  const std::size_t begin = pos;
  skip_while(text, pos, false);
  return text.substr(begin, pos - begin);
}

}  // namespace tovarn::xpath::detail
