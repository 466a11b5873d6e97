#include "tree/query.h"
#include "unicode/unicode.h"
#include "xpath/functions/detail/core.h"

namespace tovarn::xpath::detail {
namespace {

// Appends value_to_string of the value without a temporary for the common
// kinds: a node-set gives its first node's string value.
void append_string(std::string& out, const Value& value, const CallSite& call) {
  if (const auto* text = std::get_if<std::string>(&value)) {
    out += *text;
  } else if (const auto* nodes = std::get_if<NodeSet>(&value)) {
    if (!nodes->ids.empty()) tree::append_string_value(document_of(*nodes, call), nodes->ids[0], out);
  } else {
    out += value_to_string(value);
  }
}

// Every node's string value in document order, `separator` between neighbours.
void append_joined(std::string& out, const NodeSet& nodes, std::string_view separator,
                   const CallSite& call) {
  const tree::Document& doc = document_of(nodes, call);
  for (std::size_t i = 0; i < nodes.ids.size(); ++i) {
    if (i > 0) out += separator;
    tree::append_string_value(doc, nodes.ids[i], out);
  }
}

// str(1), or the context node's string value when the call has no argument.
std::expected<std::string, std::string> text_or_context(const CallSite& call) {
  if (call.args.empty()) return context_string(call);
  return eval_arg_string(call, 1);
}

}  // namespace

EvalResult fn_string(const CallSite& call) {
  auto text = text_or_context(call);
  if (!text) return std::unexpected(std::move(text.error()));
  return std::move(*text);
}

// A single argument reads every node of a node-set; with two or more, each
// argument contributes its string, so a node-set gives its first node only.
EvalResult fn_concat(const CallSite& call) {
  std::string out;
  if (call.args.size() == 1) {
    EvalResult value = eval_arg(call, 1);
    if (!value) return value;
    if (const auto* nodes = std::get_if<NodeSet>(&*value)) {
      append_joined(out, *nodes, "", call);
    } else {
      append_string(out, *value, call);
    }
    return out;
  }
  for (std::size_t p = 1; p <= call.args.size(); ++p) {
    EvalResult value = eval_arg(call, p);
    if (!value) return value;
    append_string(out, *value, call);
  }
  return out;
}

EvalResult fn_join(const CallSite& call) {
  auto separator = eval_arg_string(call, 1);
  if (!separator) return std::unexpected(std::move(separator.error()));
  EvalResult value = eval_arg(call, 2);
  if (!value) return value;
  std::string out;
  if (const auto* nodes = std::get_if<NodeSet>(&*value)) {
    append_joined(out, *nodes, *separator, call);
  } else {
    append_string(out, *value, call);
  }
  return out;
}

EvalResult fn_string_length(const CallSite& call) {
  auto text = text_or_context(call);
  if (!text) return std::unexpected(std::move(text.error()));
  return static_cast<double>(unicode::length(*text));
}

EvalResult fn_normalize_space(const CallSite& call) {
  auto text = text_or_context(call);
  if (!text) return std::unexpected(std::move(text.error()));
  std::string out;
  out.reserve(text->size());
  std::size_t pos = 0;
  while (auto word = next_word(*text, pos)) {
    if (!out.empty()) out += ' ';
    out += *word;
  }
  return out;
}

// The second argument is evaluated only when the first is empty; a text of
// spaces is not empty.
EvalResult fn_coalesce(const CallSite& call) {
  auto first = eval_arg_string(call, 1);
  if (!first) return std::unexpected(std::move(first.error()));
  if (!first->empty()) return std::move(*first);
  auto second = eval_arg_string(call, 2);
  if (!second) return std::unexpected(std::move(second.error()));
  return std::move(*second);
}

}  // namespace tovarn::xpath::detail
