#include "form/detail/selections.h"
#include "form/environment.h"
#include "form/judge.h"
#include "form/session.h"
#include "tree/query.h"
#include "unicode/unicode.h"
#include "xpath/parse.h"

namespace tovarn::form {
namespace {

// Whether the control has a computed list at all, asked before a model
// document is built for it.
bool has_itemset(const tree::Document& form_document, tree::NodeId control) {
  for (tree::NodeId child : form_document.children(control))
    if (form_document.name(child) == "itemset")
      return tree::attribute_value(form_document, child, "nodeset").has_value();
  return false;
}

// "/" and the names of an absolute path of named child steps, its
// predicates left out; none for any other path.
std::optional<std::string> names_of(const xpath::Expr& expr) {
  const auto* path = std::get_if<xpath::Expr::LocationPath>(&expr.node);
  if (path == nullptr || !path->absolute || path->steps.empty()) return std::nullopt;
  std::string names;
  for (const xpath::Step& step : path->steps) {
    if (step.axis != xpath::Axis::child || !step.name_test) return std::nullopt;
    names += '/';
    names += *step.name_test;
  }
  return names;
}

}  // namespace

ControlsByRef controls_by_ref(const tree::Document& form_document) {
  ControlsByRef controls;
  for (std::uint32_t p = 0; p < form_document.order_size(); ++p) {
    tree::NodeId node = form_document.at_order_position(p);
    if (form_document.is_attribute(node) || !is_control_name(form_document.name(node))) continue;
    if (auto ref = tree::attribute_value(form_document, node, "ref"))
      controls.try_emplace(std::string(unicode::trim(*ref)), node);
  }
  return controls;
}

std::optional<std::vector<Choice>> choices(const Session& session, std::string_view path) {
  const FormModel& form = session.form;
  const std::string_view trimmed = unicode::trim(path);
  auto found = session.controls.find(trimmed);
  // Only a form with repeats has questions in rows. One is named with its row
  // (/data/rep[2]/q), and its control by its ref, the path without positions.
  std::optional<xpath::Expression> question_path;
  bool by_row = false;
  if (form.repeats) {
    if (auto parsed = xpath::parse_expression(trimmed)) question_path = std::move(*parsed);
    if (found == session.controls.end() && question_path) {
      if (auto names = names_of(*question_path)) found = session.controls.find(*names);
      by_row = true;
    }
  }
  if (found == session.controls.end()) return std::nullopt;
  tree::NodeId control = found->second;
  if (!has_itemset(form.form_document, control)) return std::nullopt;

  // Filters see the answers given so far.
  tree::Document model = model_document(form, session.instance);
  std::optional<tree::NodeId> question;
  if (question_path) {
    FormEnvironment env(form, model, std::string(), std::string());
    std::vector<tree::NodeId> nodes = detail::select_nodes(*question_path, model, env);
    if (!nodes.empty()) question = nodes.front();
  }
  // A row that is not there holds no question.
  if (by_row && !question) return std::nullopt;
  Itemset itemset = read_itemset(form, control, model, 0, question);
  if (itemset.outcome == Itemset::Outcome::no_list) return std::nullopt;
  std::vector<Choice> out;
  if (itemset.outcome == Itemset::Outcome::failed) return out;
  for (tree::NodeId node : itemset.nodes) {
    std::string value = itemset_value(itemset, node);
    if (unicode::is_blank(value)) continue;
    std::string label = itemset_label(form, itemset, node);
    out.push_back({std::move(value), std::move(label)});
  }
  return out;
}

}  // namespace tovarn::form
