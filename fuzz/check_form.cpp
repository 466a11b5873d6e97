// Checks the input as a form, as check_form does after loading it.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "compat/check_form.h"
#include "unicode/unicode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!tovarn::unicode::is_valid_utf8(text)) return -1;
  (void)tovarn::compat::check_form(text);
  return 0;
}
