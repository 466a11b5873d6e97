// Tokenizes and parses the input as an expression, and dumps what parses.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "xpath/detail/dump.h"
#include "xpath/detail/token.h"
#include "xpath/parse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto tokens = tovarn::xpath::detail::tokenize(text);
  if (tokens) {
    for (const auto& token : *tokens) (void)tovarn::xpath::detail::describe_token(token);
  }
  auto expr = tovarn::xpath::parse_expression(text);
  // The parser starts by tokenizing, so it cannot accept what the tokenizer refuses.
  if (expr && !tokens) std::abort();
  if (expr) (void)tovarn::xpath::detail::dump(*expr);
  return 0;
}
