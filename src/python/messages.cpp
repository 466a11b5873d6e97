#include "python/messages.h"

#include <array>
#include <cstring>

namespace tovarn::python::msg {
namespace {

constexpr std::array<std::string_view, 8> kTexts = {
    "PyO3 modules compiled for CPython 3.8 or older may only be initialized once per "
    "interpreter process",
    "Already borrowed",
    "Already mutably borrowed",
    "file name contained an unexpected NUL byte",
    "stream did not contain valid UTF-8",
    "not a regular file",
    "the submission has no root element",
    "XML text too large: more than 4294967294 bytes",
};

std::string number(std::size_t n) { return std::to_string(n); }

std::string_view was_were(std::size_t n) { return n == 1 ? "was" : "were"; }

}  // namespace

std::string_view text(Text which) { return kTexts[static_cast<std::size_t>(which)]; }

std::string takes_positional(std::string_view callable, std::size_t params, std::size_t given) {
  std::string out(callable);
  out += " takes " + number(params) + " positional arguments but " + number(given) + " ";
  out += was_were(given);
  out += " given";
  return out;
}

std::string takes_from_to(std::string_view callable, std::size_t required, std::size_t params,
                          std::size_t given) {
  std::string out(callable);
  out += " takes from " + number(required) + " to " + number(params) +
         " positional arguments but " + number(given) + " ";
  out += was_were(given);
  out += " given";
  return out;
}

std::string unexpected_keyword(std::string_view callable, std::string_view keyword) {
  std::string out(callable);
  out += " got an unexpected keyword argument '";
  out += keyword;
  out += "'";
  return out;
}

std::string multiple_values(std::string_view callable, std::string_view param) {
  std::string out(callable);
  out += " got multiple values for argument '";
  out += param;
  out += "'";
  return out;
}

std::string missing_required(std::string_view callable, std::span<const std::string_view> names) {
  std::string out(callable);
  out += " missing " + number(names.size()) + " required positional ";
  out += names.size() == 1 ? "argument" : "arguments";
  out += ": ";
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
    out += "'";
    out += names[i];
    out += "'";
  }
  return out;
}

std::string not_a_string(std::string_view type_name) {
  std::string out = "'";
  out += type_name;
  out += "' object cannot be converted to 'PyString'";
  return out;
}

std::string argument_error(std::string_view param, std::string_view inner) {
  std::string out = "argument '";
  out += param;
  out += "': ";
  out += inner;
  return out;
}

std::string could_not_read(std::string_view source, std::string_view argument,
                           std::string_view reason) {
  // A long argument is most often a whole document that was not taken for
  // XML text: its start is enough to recognise it.
  constexpr std::size_t kQuoted = 200;
  std::size_t characters = 0;
  std::size_t cut = 0;
  for (; cut < argument.size(); ++cut) {
    const bool starts_character = (static_cast<unsigned char>(argument[cut]) & 0xC0) != 0x80;
    if (starts_character && characters++ == kQuoted) break;
  }
  std::string out(source);
  out += ": could not read '";
  out += argument.substr(0, cut);
  if (cut < argument.size()) out += "\xE2\x80\xA6";  // …
  out += "': ";
  out += reason;
  return out;
}

std::string os_error(int error_number) {
  char buffer[256];
  // The GNU strerror_r: returns the text, not necessarily in `buffer`.
  std::string out = strerror_r(error_number, buffer, sizeof buffer);
  out += " (os error " + std::to_string(error_number) + ")";
  return out;
}

std::string session_repr(std::size_t bytes) {
  return "<tovarn.Session " + number(bytes) + " bytes>";
}

}  // namespace tovarn::python::msg
