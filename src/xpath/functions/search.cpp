#include "xpath/functions/detail/core.h"

namespace tovarn::xpath::detail {
namespace {

// str(1) and str(2), in that order.
struct Pair {
  std::string text;
  std::string pattern;
};

std::expected<Pair, std::string> text_and_pattern(const CallSite& call) {
  auto text = eval_arg_string(call, 1);
  if (!text) return std::unexpected(std::move(text.error()));
  auto pattern = eval_arg_string(call, 2);
  if (!pattern) return std::unexpected(std::move(pattern.error()));
  return Pair{std::move(*text), std::move(*pattern)};
}

}  // namespace

// Byte searches: for whole UTF-8 texts a byte match is a character match.

EvalResult fn_contains(const CallSite& call) {
  auto pair = text_and_pattern(call);
  if (!pair) return std::unexpected(std::move(pair.error()));
  return pair->text.find(pair->pattern) != std::string::npos;
}

EvalResult fn_starts_with(const CallSite& call) {
  auto pair = text_and_pattern(call);
  if (!pair) return std::unexpected(std::move(pair.error()));
  return pair->text.starts_with(pair->pattern);
}

EvalResult fn_ends_with(const CallSite& call) {
  auto pair = text_and_pattern(call);
  if (!pair) return std::unexpected(std::move(pair.error()));
  return pair->text.ends_with(pair->pattern);
}

// An empty pattern occurs at 0, so what comes before it is empty.
EvalResult fn_substring_before(const CallSite& call) {
  auto pair = text_and_pattern(call);
  if (!pair) return std::unexpected(std::move(pair.error()));
  const std::size_t at = pair->text.find(pair->pattern);
  if (at == std::string::npos) return std::string();
  pair->text.resize(at);
  return std::move(pair->text);
}

// An empty pattern occurs at 0, so all of the text comes after it.
EvalResult fn_substring_after(const CallSite& call) {
  auto pair = text_and_pattern(call);
  if (!pair) return std::unexpected(std::move(pair.error()));
  const std::size_t at = pair->text.find(pair->pattern);
  if (at == std::string::npos) return std::string();
  pair->text.erase(0, at + pair->pattern.size());
  return std::move(pair->text);
}

}  // namespace tovarn::xpath::detail
