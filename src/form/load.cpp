#include <algorithm>
#include <array>
#include <iterator>
#include <optional>
#include <span>
#include <utility>

#include "form/detail/child_index.h"
#include "form/detail/completion.h"
#include "form/detail/messages.h"
#include "form/detail/order.h"
#include "form/detail/repeats.h"
#include "form/detail/rows.h"
#include "form/model.h"
#include "tree/fast_paths.h"
#include "tree/query.h"
#include "tree/xml.h"
#include "unicode/unicode.h"
#include "xpath/parse.h"
#include "xpath/watch.h"

namespace tovarn::form {
namespace {

using tree::Document;
using tree::NodeId;

// The bind attributes the load reads, rules in the order they are parsed.
enum BindAttribute : std::uint8_t {
  kRelevant,
  kCalculate,
  kConstraint,
  kReadonly,
  kRequired,
  kNodeset,
  kRef,
  kConstraintMsg,
  kRequiredMsg,
  kBindAttributeCount,
};
constexpr std::array<std::string_view, kBindAttributeCount> kBindAttributeNames = {
    "relevant", "calculate", "constraint", "readonly", "required",
    "nodeset",  "ref",       "constraintMsg", "requiredMsg"};
constexpr int kRuleCount = kNodeset;

// The first attribute of each name, found in one pass over the attributes;
// a blank one hides any later namesake.
std::array<std::optional<std::string_view>, kBindAttributeCount> read_bind_attributes(
    const Document& doc, NodeId bind) {
  std::array<std::optional<std::string_view>, kBindAttributeCount> first{};
  std::array<bool, kBindAttributeCount> seen{};
  for (NodeId a : doc.attributes(bind)) {
    std::string_view name = doc.name(a);
    for (int k = 0; k < kBindAttributeCount; ++k) {
      // Length and first byte first: most names are told apart there.
      const std::string_view wanted = kBindAttributeNames[k];
      if (seen[k] || name.size() != wanted.size() || name[0] != wanted[0] || name != wanted)
        continue;
      seen[k] = true;
      std::string_view value = doc.text(a);
      // A printable ASCII first byte is no white space: no need to look on.
      const auto lead = value.empty() ? 0 : static_cast<unsigned char>(value[0]);
      if ((lead > ' ' && lead < 0x80) || !unicode::is_blank(value)) first[k] = value;
      break;
    }
  }
  return first;
}

std::optional<std::string> owned(std::optional<std::string_view> text) {
  if (!text) return std::nullopt;
  return std::string(*text);
}

// Each rule's latest text and its tree. Binds in a row often share a rule
// ("true()", a group's relevance), and a tree is never changed once made, so
// a repeat takes the tree already made.
using LastRule = std::pair<std::string_view, const xpath::Expr*>;
using LastRules = std::array<LastRule, kRuleCount>;

std::expected<const xpath::Expr*, std::string> parse_rule(std::string_view text,
                                                          xpath::ExprArena& arena,
                                                          LastRule& last) {
  if (kFastPaths && last.second != nullptr && last.first == text) {
    // As a parse would, a call stopped meanwhile stops here.
    if (xpath::Watch* watch = xpath::current_watch(); watch != nullptr && watch->interrupted())
      return std::unexpected(xpath::interrupted_message());
    return last.second;
  }
  auto parsed = xpath::parse_expression(text, arena);
  if (parsed) last = {text, *parsed};
  return parsed;
}

// Fills `bind` in place, its trees going to `arena`.
[[nodiscard]] std::expected<void, std::string> read_bind(const Document& doc, NodeId element,
                                                         Bind& bind, xpath::ExprArena& arena,
                                                         LastRules& last) {
  auto attributes = read_bind_attributes(doc, element);
  std::optional<std::string_view> nodeset =
      attributes[kNodeset] ? attributes[kNodeset] : attributes[kRef];
  if (!nodeset) return std::unexpected(detail::msg::bind_without_nodeset());

  bind.nodeset = arena.copy(*nodeset);
  std::array<const xpath::Expr**, kRuleCount> rules = {
      &bind.relevant, &bind.calculate, &bind.constraint, &bind.readonly, &bind.required};
  for (int k = 0; k < kRuleCount; ++k) {
    if (!attributes[k]) continue;
    auto parsed = parse_rule(*attributes[k], arena, last[k]);
    if (!parsed)
      return std::unexpected(detail::msg::rule_does_not_parse(
          kBindAttributeNames[k], bind.nodeset, parsed.error(), *attributes[k]));
    *rules[k] = *parsed;
  }
  bind.constraintMsg = owned(attributes[kConstraintMsg]);
  bind.requiredMsg = owned(attributes[kRequiredMsg]);
  bind.nodeset_plain = kFastPaths && detail::is_plain_child_path(bind.nodeset);
  if (!bind.nodeset_plain)
    if (auto path = xpath::parse_expression(bind.nodeset, arena)) bind.nodeset_path = *path;
  return {};
}

Document copy_instance(const Document& doc, NodeId element) {
  Document copy;
  copy.set_root(tree::copy_subtree(copy, doc, element));
  copy.reindex_document_order();
  return copy;
}

void read_secondary_instances(FormModel& model, const std::vector<NodeId>& instances,
                              bool copy_now) {
  const Document& doc = model.form_document;
  for (NodeId element : instances) {
    std::optional<std::string_view> id = tree::attribute_value(doc, element, "id");
    if (!id) continue;
    model.secondary_elements.insert_or_assign(std::string(*id), element);
  }
  if (kFastPaths && !copy_now) return;
  for (const auto& [id, element] : model.secondary_elements)
    model.secondary_instances.emplace(id, copy_instance(doc, element));
}

// The translation marked default ("true()" or "true"), else the first.
NodeId default_translation(const Document& doc, std::span<const NodeId> translations) {
  for (NodeId translation : translations) {
    std::optional<std::string_view> marked = tree::attribute_value(doc, translation, "default");
    if (!marked) continue;
    const std::string_view value = unicode::trim(*marked);
    if (value == "true()" || value == "true") return translation;
  }
  return translations.front();
}

void read_itext(const Document& doc, NodeId translation,
                std::map<std::string, std::string, std::less<>>& out) {
  for (NodeId text : doc.children(translation)) {
    if (doc.name(text) != "text") continue;
    std::optional<std::string_view> id = tree::attribute_value(doc, text, "id");
    if (!id) continue;
    for (NodeId value : doc.children(text)) {
      if (doc.name(value) != "value") continue;
      out.insert_or_assign(std::string(*id), tree::string_value(doc, value));
      break;
    }
  }
}

}  // namespace

const tree::Document* secondary_instance(const FormModel& form, std::string_view id) {
  if (auto copied = form.secondary_instances.find(id); copied != form.secondary_instances.end())
    return &copied->second;
  auto element = form.secondary_elements.find(id);
  if (element == form.secondary_elements.end()) return nullptr;
  return &form.secondary_instances.emplace(element->first, copy_instance(form.form_document,
                                                                         element->second))
              .first->second;
}

std::optional<std::string_view> attribute_if_not_blank(const tree::Document& doc, tree::NodeId node,
                                                       std::string_view name) {
  std::optional<std::string_view> value = tree::attribute_value(doc, node, name);
  if (!value || unicode::is_blank(*value)) return std::nullopt;
  return value;
}

namespace {

std::expected<FormModel, std::string> load_parsed(std::expected<Document, std::string> parsed,
                                                  bool for_request) {
  if (!parsed) return std::unexpected(detail::msg::xform_xml(parsed.error()));
  FormModel model;
  model.form_document = std::move(*parsed);
  const Document& doc = model.form_document;
  if (!doc.root()) return std::unexpected(detail::msg::no_root_element());
  if (auto is_form = require_model_element(doc); !is_form)
    return std::unexpected(std::move(is_form.error()));

  // One walk in document order finds binds, instances, repeats and
  // translations; then the binds are read in that order, the first failure
  // ending the load.
  std::vector<NodeId> binds;
  std::vector<NodeId> instances;
  std::vector<NodeId> repeats;
  std::vector<NodeId> translations;
  for (std::uint32_t position = 0; position < doc.order_size(); ++position) {
    NodeId node = doc.at_order_position(position);
    if (doc.is_attribute(node)) continue;
    std::string_view name = doc.name(node);
    if (name == "bind")
      binds.push_back(node);
    else if (name == "instance")
      instances.push_back(node);
    else if (name == "repeat")
      repeats.push_back(node);
    else if (name == "translation")
      translations.push_back(node);
  }
  model.binds.resize(binds.size());
  LastRules last{};
  for (std::size_t i = 0; i < binds.size(); ++i)
    if (auto read = read_bind(doc, binds[i], model.binds[i], model.expressions, last); !read)
      return std::unexpected(std::move(read.error()));
  if (model.binds.empty()) return std::unexpected(detail::msg::no_binds());

  auto order = detail::order_calculations(model.binds, detail::read_dependencies(model.binds));
  if (!order) return std::unexpected(std::move(order.error()));
  model.calculation_order = std::move(order->order);
  model.calculation_loops = std::move(order->loops);

  read_secondary_instances(model, instances, !for_request);
  if (!translations.empty()) read_itext(doc, default_translation(doc, translations), model.itext);
  model.instance_shape = detail::read_instance_shape(doc, instances, repeats);
  model.repeats = detail::read_repeats(model);
  detail::read_rules_in_rows(model);
  return model;
}

}  // namespace

std::expected<FormModel, std::string> load_form_model(std::string_view text) {
  return load_parsed(tree::parse_xml(text), false);
}

std::expected<FormModel, std::string> load_form_model_for_request(std::string text) {
  return load_parsed(tree::parse_xml_in_place(std::move(text)), true);
}

}  // namespace tovarn::form
