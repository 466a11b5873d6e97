#include "xpath/detail/eval_messages.h"

namespace tovarn::xpath::detail::msg {

std::string needs_node_set(std::string_view what, std::string_view kind_phrase) {
  std::string out(what);
  out += " needs a node-set, got ";
  out += kind_phrase;
  return out;
}

std::string variable(std::string_view name) {
  std::string out = "variable $";
  out += name;
  out += ": XForms has no variables, so this expression cannot be what the form meant";
  return out;
}

std::string instance_needs_id() { return "instance() needs an id"; }

std::string instance_not_loaded(std::string_view id) {
  std::string out = "instance('";
  out += id;
  out +=
      "') is not loaded \u2014 the form expects a secondary instance the evaluator was not given";
  return out;
}

std::string union_of_two_documents() {
  return "union needs nodes of one document, got nodes of two";
}

}  // namespace tovarn::xpath::detail::msg
