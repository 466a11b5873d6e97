#include "python/entry.h"
#include "python/messages.h"
#include "python/sources.h"
#include "tree/xml.h"
#include "xpath/evaluate.h"
#include "xpath/parse.h"
#include "xpath/value.h"

namespace tovarn::python {

Outcome<std::string> eval_expression(std::string expression, std::string submission,
                                     std::optional<std::string> today,
                                     std::optional<std::string> now) {
  auto text = load_source(std::move(submission), "submission");
  if (!text) return std::unexpected(std::move(text.error()));
  // The submission is read before the expression is looked at, so a broken
  // submission is what gets reported when both are broken.
  auto document = tree::parse_xml_in_place(std::move(*text));
  if (!document) return runtime_error(std::move(document.error()));
  auto tree = xpath::parse_expression(expression);
  if (!tree) return runtime_error(std::move(tree.error()));
  const auto root = document->root();
  if (!root) return runtime_error(std::string(msg::text(msg::Text::no_submission_root)));

  const xpath::Clock clock = resolve_clock(*document, std::move(today), std::move(now));
  auto value = xpath::evaluate(*tree, *document, xpath::EvalContext{.node = *root}, clock);
  if (!value) return runtime_error(std::move(value.error()));
  return xpath::value_to_string(*value);
}

}  // namespace tovarn::python
