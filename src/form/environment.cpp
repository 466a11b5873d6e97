#include "form/environment.h"

#include <array>

#include "form/detail/itext.h"
#include "form/detail/rows.h"
#include "tree/query.h"
#include "unicode/unicode.h"
#include "xpath/evaluate.h"
#include "xpath/parse.h"
#include "xpath/value.h"

namespace tovarn::form {
namespace {

using tree::Document;
using tree::NodeId;

constexpr std::array<std::string_view, 6> kControlNames = {"input", "select", "select1",
                                                            "range", "rank",   "upload"};
using detail::kItextPrefix;

// Labels and choice lists never see the request's clock.
xpath::EvalResult evaluate_without_clock(const FormModel& form, const xpath::Expr& expr,
                                         const Document& document, NodeId node, unsigned nesting,
                                         NodeId rule_node) {
  FormEnvironment env(form, document, std::string(), std::string(), nesting);
  return xpath::evaluate_for(expr, document, xpath::EvalContext{node, 1, 1}, rule_node, env);
}

xpath::EvalResult evaluate_without_clock(const FormModel& form, const xpath::Expr& expr,
                                         const Document& document, NodeId node, unsigned nesting) {
  return evaluate_without_clock(form, expr, document, node, nesting, node);
}

// The nodeset as read for a question of the control: its absolute paths
// through the rows that hold the control's ref read those rows.
const xpath::Expr& read_for_question(const FormModel& form, NodeId control,
                                     xpath::Expression& nodeset) {
  if (!form.repeats) return nodeset;
  auto ref = tree::attribute_value(form.form_document, control, "ref");
  if (!ref) return nodeset;
  auto path = xpath::parse_expression(*ref);
  if (!path) return nodeset;
  detail::RowPlace place;
  if (!detail::read_row_place(*path, *form.repeats, place)) return nodeset;
  return detail::read_in_rows(nodeset, place, false, nodeset.arena);
}

std::optional<std::string> string_of(const FormModel& form, std::string_view text,
                                     const Document& document, NodeId node, unsigned nesting) {
  auto expr = xpath::parse_expression(text);
  if (!expr) return std::nullopt;
  auto value = evaluate_without_clock(form, *expr, document, node, nesting);
  if (!value) return std::nullopt;
  return xpath::value_to_string(*value);
}

}  // namespace

const tree::Document* FormEnvironment::instance(std::string_view id) const {
  return secondary_instance(form_, id);
}

std::optional<std::string> FormEnvironment::choice_label(std::string_view value,
                                                         std::string_view question_path) const {
  if (nesting_ >= kMaxLabelNesting) return std::nullopt;
  const unsigned inner = nesting_ + 1;
  const Document& form_doc = form_.form_document;
  std::optional<NodeId> control = control_by_ref(form_doc, question_path);
  if (!control) return std::nullopt;
  std::string_view wanted = unicode::trim(value);

  for (NodeId item : form_doc.children(*control)) {
    if (form_doc.name(item) != "item") continue;
    std::optional<NodeId> item_value = tree::child_named(form_doc, item, "value");
    std::string text = item_value ? tree::string_value(form_doc, *item_value) : std::string();
    if (unicode::trim(text) != wanted) continue;
    std::optional<NodeId> label = find_label_child(form_doc, item);
    if (!label) return std::nullopt;
    if (auto ref = tree::attribute_value(form_doc, *label, "ref")) {
      std::optional<NodeId> root = document_.root();
      return root ? label_text(form_, *ref, document_, *root, inner) : std::string();
    }
    return tree::string_value(form_doc, *label);
  }

  Itemset itemset = read_itemset(form_, *control, document_, inner);
  if (itemset.outcome != Itemset::Outcome::listed) return std::nullopt;
  for (NodeId choice : itemset.nodes)
    if (unicode::trim(itemset_value(itemset, choice)) == wanted)
      return itemset_label(form_, itemset, choice, inner);
  return std::nullopt;
}

bool is_control_name(std::string_view name) {
  for (std::string_view c : kControlNames)
    if (name == c) return true;
  return false;
}

std::optional<tree::NodeId> control_by_ref(const tree::Document& form_document,
                                           std::string_view path) {
  if (!form_document.root()) return std::nullopt;
  std::string_view wanted = unicode::trim(path);
  for (std::uint32_t p = 0; p < form_document.order_size(); ++p) {
    NodeId node = form_document.at_order_position(p);
    if (form_document.is_attribute(node) || !is_control_name(form_document.name(node))) continue;
    std::optional<std::string_view> ref = tree::attribute_value(form_document, node, "ref");
    if (ref && unicode::trim(*ref) == wanted) return node;
  }
  return std::nullopt;
}

std::optional<tree::NodeId> find_label_child(const tree::Document& doc, tree::NodeId node) {
  return tree::child_named(doc, node, "label");
}

Itemset read_itemset(const FormModel& form, tree::NodeId control, const tree::Document& document,
                     unsigned nesting, std::optional<tree::NodeId> question) {
  const Document& form_doc = form.form_document;
  Itemset itemset;
  std::optional<NodeId> element = tree::child_named(form_doc, control, "itemset");
  if (!element) return itemset;
  std::optional<std::string_view> nodeset = tree::attribute_value(form_doc, *element, "nodeset");
  if (!nodeset) return itemset;
  if (std::optional<NodeId> value = tree::child_named(form_doc, *element, "value"))
    if (auto ref = tree::attribute_value(form_doc, *value, "ref")) itemset.value_name = *ref;
  if (std::optional<NodeId> label = find_label_child(form_doc, *element))
    itemset.label_ref = tree::attribute_value(form_doc, *label, "ref");

  auto expr = xpath::parse_expression(*nodeset);
  if (!expr || !document.root()) return itemset;
  const NodeId root = *document.root();
  auto value = question ? evaluate_without_clock(form, read_for_question(form, control, *expr),
                                                 document, root, nesting, *question)
                        : evaluate_without_clock(form, *expr, document, root, nesting);
  if (!value || !std::holds_alternative<xpath::NodeSet>(*value)) {
    itemset.outcome = Itemset::Outcome::failed;
    return itemset;
  }
  xpath::NodeSet& nodes = std::get<xpath::NodeSet>(*value);
  itemset.outcome = Itemset::Outcome::listed;
  itemset.nodes_document = nodes.document ? nodes.document : &document;
  itemset.nodes = std::move(nodes.ids);
  return itemset;
}

std::string itemset_value(const Itemset& itemset, tree::NodeId choice) {
  const Document& doc = *itemset.nodes_document;
  std::optional<NodeId> child = tree::child_named(doc, choice, itemset.value_name);
  return child ? tree::string_value(doc, *child) : std::string();
}

std::string itemset_label(const FormModel& form, const Itemset& itemset, tree::NodeId choice,
                          unsigned nesting) {
  if (!itemset.label_ref) return itemset_value(itemset, choice);
  return label_text(form, *itemset.label_ref, *itemset.nodes_document, choice, nesting);
}

std::string label_text(const FormModel& form, std::string_view text,
                       const tree::Document& document, tree::NodeId node, unsigned nesting) {
  std::string_view trimmed = unicode::trim(text);
  if (!trimmed.starts_with(kItextPrefix))
    return string_of(form, trimmed, document, node, nesting).value_or(std::string());

  std::string_view rest = trimmed.substr(kItextPrefix.size());
  while (rest.ends_with(')')) rest.remove_suffix(1);
  rest = unicode::trim(rest);
  std::string id;
  if (rest.size() >= 2 && rest.front() == '\'' && rest.back() == '\'')
    id = rest.substr(1, rest.size() - 2);
  else
    id = string_of(form, rest, document, node, nesting).value_or(std::string());
  auto found = form.itext.find(id);
  return found == form.itext.end() ? id : found->second;
}

}  // namespace tovarn::form
