#include <variant>

#include "compat/detail/expression_checks.h"
#include "compat/detail/messages.h"

namespace tovarn::compat::detail {
namespace {

using xpath::Expr;

void check_regex(std::span<const Expr> args, std::vector<CompatIssue>& issues) {
  const auto* literal = args.size() < 2 ? nullptr : std::get_if<Expr::Literal>(&args[1].node);
  if (literal == nullptr) {
    issues.push_back(regex_not_written_out());
    return;
  }
  const std::string_view pattern = literal->text;
  // "^" and "$" are single bytes that no multibyte character contains, so the
  // first and last bytes stand for the first and last characters.
  const bool anchored = !pattern.empty() && pattern.front() == '^' && pattern.back() == '$';
  if (!anchored) {
    issues.push_back(regex_unanchored(pattern));
  } else if (has_top_level_alternation(pattern)) {
    issues.push_back(regex_alternation(pattern));
  }
}

bool is_odd_casing_of_true(std::string_view text) {
  if (text.size() != 4 || text == "true") return false;
  constexpr std::string_view kTrue = "true";
  for (std::size_t i = 0; i < 4; ++i) {
    const char c = text[i];
    const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    if (lower != kTrue[i]) return false;
  }
  return true;
}

}  // namespace

void check_function_call(std::string_view name, std::span<const Expr> args,
                         std::vector<CompatIssue>& issues) {
  if (name == "regex") {
    check_regex(args, issues);
  } else if (name == "boolean-from-string") {
    if (args.empty()) return;
    const auto* literal = std::get_if<Expr::Literal>(&args[0].node);
    if (literal != nullptr && is_odd_casing_of_true(literal->text))
      issues.push_back(boolean_from_string(literal->text));
  } else if (auto issue = function_issue(name)) {
    issues.push_back(std::move(*issue));
  }
}

bool has_top_level_alternation(std::string_view pattern) {
  // Every character that matters is ASCII, and no byte of a multibyte
  // character is, so a byte scan reads the pattern as a character scan would:
  // an escaped multibyte character leaves only ordinary bytes behind.
  bool escaped = false;
  bool in_class = false;
  std::size_t depth = 0;
  for (const char c : pattern) {
    if (escaped) {
      escaped = false;
    } else if (c == '\\') {
      escaped = true;
    } else if (c == '[') {
      in_class = true;
    } else if (c == ']') {
      in_class = false;
    } else if (in_class) {
      continue;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')') {
      if (depth > 0) --depth;
    } else if (c == '|' && depth == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace tovarn::compat::detail
