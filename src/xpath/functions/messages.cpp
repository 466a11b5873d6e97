#include "xpath/functions/detail/messages.h"

namespace tovarn::xpath::detail::msg {

std::string unknown_function(std::string_view name) {
  std::string out = "unknown function ";
  out += name;
  out += "()";
  return out;
}

std::string not_implemented(std::string_view name) {
  std::string out(name);
  out += "() is not implemented yet — tovarn refuses to guess at a value the form will act on";
  return out;
}

std::string wrong_arity(std::string_view name, std::span<const std::size_t> allowed,
                        std::size_t given) {
  std::string out(name);
  out += "() takes ";
  for (std::size_t i = 0; i < allowed.size(); ++i) {
    if (i > 0) out += " or ";
    out += std::to_string(allowed[i]);
  }
  out += " argument(s), got ";
  out += std::to_string(given);
  return out;
}

std::string missing_argument(std::string_view name, std::size_t position) {
  std::string out(name);
  out += "() needs an argument in position ";
  out += std::to_string(position);
  return out;
}

std::string sum_needs_nodeset(std::string_view kind) {
  std::string out = "sum() adds up a node-set, and was given ";
  out += kind;
  return out;
}

std::string count_needs_nodeset(std::string_view kind) {
  std::string out = "count() counts nodes, and was given ";
  out += kind;
  return out;
}

std::string name_needs_nodeset(std::string_view name, std::string_view kind) {
  std::string out(name);
  out += "() names a node, and was given ";
  out += kind;
  return out;
}

}  // namespace tovarn::xpath::detail::msg
