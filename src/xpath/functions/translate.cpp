#include <algorithm>
#include <utility>
#include <vector>

#include "unicode/unicode.h"
#include "xpath/functions/detail/core.h"

namespace tovarn::xpath::detail {
namespace {

// Each character of `from` with the index of its first occurrence, sorted by
// character, so a lookup costs log |from| however long the text is.
std::vector<std::pair<char32_t, std::size_t>> first_indices(std::string_view from) {
  std::vector<std::pair<char32_t, std::size_t>> table;
  for (std::size_t i = 0, k = 0; i < from.size(); ++k) table.emplace_back(unicode::decode(from, i), k);
  std::sort(table.begin(), table.end());  // by character, then by index
  table.erase(std::unique(table.begin(), table.end(),
                          [](const auto& a, const auto& b) { return a.first == b.first; }),
              table.end());
  return table;
}

// The bytes of each character of `to`, by index.
std::vector<std::string_view> characters(std::string_view to) {
  std::vector<std::string_view> out;
  for (std::size_t i = 0; i < to.size();) {
    const std::size_t begin = i;
    unicode::decode(to, i);
    out.push_back(to.substr(begin, i - begin));
  }
  return out;
}

}  // namespace

// A character found in `from` at index i becomes the character of `to` at i,
// or is dropped when `to` is shorter; the first occurrence in `from` governs.
EvalResult fn_translate(const CallSite& call) {
  auto text = eval_arg_string(call, 1);
  if (!text) return std::unexpected(std::move(text.error()));
  auto from = eval_arg_string(call, 2);
  if (!from) return std::unexpected(std::move(from.error()));
  auto to = eval_arg_string(call, 3);
  if (!to) return std::unexpected(std::move(to.error()));

  const auto table = first_indices(*from);
  const auto replacements = characters(*to);
  std::string out;
  out.reserve(text->size());
  const std::string_view s = *text;
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t begin = i;
    const char32_t c = unicode::decode(s, i);
    auto it = std::lower_bound(table.begin(), table.end(), c,
                               [](const auto& entry, char32_t key) { return entry.first < key; });
    if (it == table.end() || it->first != c) {
      out += s.substr(begin, i - begin);
    } else if (it->second < replacements.size()) {
      out += replacements[it->second];
    }
  }
  return out;
}

}  // namespace tovarn::xpath::detail
