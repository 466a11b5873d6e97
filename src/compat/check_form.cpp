#include "compat/check_form.h"

#include <array>
#include <optional>
#include <span>

#include "compat/detail/expression_checks.h"
#include "compat/detail/instance_paths.h"
#include "compat/detail/known_paths.h"
#include "compat/detail/messages.h"
#include "form/model.h"
#include "tree/query.h"
#include "tree/xml.h"
#include "unicode/unicode.h"
#include "xpath/parse.h"

namespace tovarn::compat {
namespace {

using tree::Document;
using tree::NodeId;

constexpr std::array<std::string_view, 5> kRules = {"relevant", "calculate", "constraint",
                                                    "required", "readonly"};

// What the checks need of the form besides its binds. Views the document.
struct FormFacts {
  detail::RepeatPaths repeat_paths;
  detail::SecondaryIds secondary_ids;
  detail::KnownPaths known_paths;
};

FormFacts gather_facts(const Document& doc, std::span<const NodeId> elements) {
  FormFacts facts;
  std::optional<NodeId> instance;
  for (const NodeId element : elements) {
    const std::string_view name = doc.name(element);
    if (name == "repeat") {
      if (auto nodeset = tree::attribute_value(doc, element, "nodeset"))
        facts.repeat_paths.add(unicode::trim(*nodeset));
    } else if (name == "instance") {
      if (auto id = tree::attribute_value(doc, element, "id")) {
        facts.secondary_ids.insert(*id);
      } else if (!instance) {
        instance = element;
      }
    }
  }
  if (instance) {
    if (auto root = doc.first_child(*instance)) facts.known_paths = detail::KnownPaths(doc, *root);
  }
  return facts;
}

void check_bind(const Document& doc, NodeId bind, const FormFacts& facts,
                CompatFindings& found) {
  auto path = form::attribute_if_not_blank(doc, bind, "nodeset");
  if (!path) path = form::attribute_if_not_blank(doc, bind, "ref");
  if (!path) return;
  const std::string_view bind_path = unicode::trim(*path);
  const std::size_t bind_index = found.bind_paths.size();
  std::vector<CompatIssue> issues;
  for (const std::string_view rule : kRules) {
    const auto text = form::attribute_if_not_blank(doc, bind, rule);
    if (!text) continue;
    const auto expr = xpath::parse_expression(*text);
    issues.clear();
    if (!expr) {
      issues.push_back(detail::rule_does_not_parse(expr.error()));
    } else {
      detail::check_expression(*expr, facts.repeat_paths, bind_path, issues);
      if (!facts.known_paths.empty())
        detail::check_instance_paths(*expr, bind_path, facts.known_paths, facts.secondary_ids,
                                     issues);
    }
    if (issues.empty()) continue;
    if (found.bind_paths.size() == bind_index) found.bind_paths.emplace_back(bind_path);
    const std::size_t rule_index = found.rules.size();
    found.rules.push_back(CheckedRule{bind_index, rule, std::string(unicode::trim(*text))});
    for (CompatIssue& issue : issues)
      found.findings.push_back(CompatFinding{rule_index, std::move(issue)});
  }
}

std::expected<CompatFindings, std::string> check_parsed(
    std::expected<tree::Document, std::string> doc) {
  if (!doc) return std::unexpected(detail::xml_error(doc.error()));
  const auto root = doc->root();
  if (!root) return std::unexpected(detail::no_root_element());
  if (auto is_form = form::require_model_element(*doc); !is_form)
    return std::unexpected(std::move(is_form.error()));

  std::vector<NodeId> elements = tree::descendants(*doc, *root);
  elements.insert(elements.begin(), *root);
  const FormFacts facts = gather_facts(*doc, elements);

  CompatFindings found;
  for (const NodeId element : elements) {
    if (doc->name(element) == "bind") check_bind(*doc, element, facts, found);
  }
  return found;
}

}  // namespace

std::expected<CompatFindings, std::string> check_form(std::string_view form_xml) {
  return check_parsed(tree::parse_xml(form_xml));
}

std::expected<CompatFindings, std::string> check_form_in_place(std::string form_xml) {
  return check_parsed(tree::parse_xml_in_place(std::move(form_xml)));
}

}  // namespace tovarn::compat
