#include "xpath/quote.h"

// Placeholder until the tokenizer lands.
namespace tovarn::xpath {
std::string quote_text(std::string_view text) { return "\"" + std::string(text) + "\""; }
}  // namespace tovarn::xpath
