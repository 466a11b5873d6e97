#include "form/session.h"

#include "form/detail/messages.h"
#include "form/judge.h"
#include "tree/query.h"
#include "tree/xml.h"

namespace tovarn::form {
namespace {

using tree::Document;
using tree::NodeId;

constexpr std::string_view kTemplate = "template";

bool has_template_attribute(const Document& doc, NodeId element) {
  return tree::attribute_named(doc, element, kTemplate).has_value();
}

// A row grafted from the template must carry no template attribute anywhere:
// written out and read back as a saved instance, a marked element would be
// cut out again with the answers in it.
void remove_template_attributes(Document& doc) {
  std::vector<NodeId> marked;
  for (std::uint32_t i = 0; i < doc.size(); ++i)
    if (doc.is_attribute(NodeId{i}) && doc.name(NodeId{i}) == kTemplate)
      marked.push_back(NodeId{i});
  for (NodeId attribute : marked) doc.remove_attribute(attribute);
}

// Template elements in saved data are only taken out, their rows unused.
void drop_templates(Document& instance) {
  std::optional<NodeId> root = instance.root();
  if (!root) return;
  std::vector<NodeId> marked;
  for (NodeId element : tree::descendants(instance, *root))
    if (has_template_attribute(instance, element)) marked.push_back(element);
  for (NodeId element : marked) instance.detach(element);
  if (!marked.empty()) instance.reindex_document_order();
}

}  // namespace

std::expected<Document, std::string> primary_instance(std::string_view form_text) {
  auto form = tree::parse_xml(form_text);
  if (!form) return std::unexpected(detail::msg::xform_xml(form.error()));
  return primary_instance(*form);
}

std::expected<Document, std::string> primary_instance(const Document& form_document) {
  std::optional<NodeId> root = form_document.root();
  if (!root) return std::unexpected(detail::msg::no_root_element());
  std::optional<NodeId> instance;
  for (NodeId element : tree::descendants(form_document, *root)) {
    if (form_document.name(element) == "instance") {
      instance = element;
      break;
    }
  }
  if (!instance) return std::unexpected(detail::msg::no_primary_instance());
  std::optional<NodeId> top = form_document.first_child(*instance);
  if (!top) return std::unexpected(detail::msg::primary_instance_empty());
  Document copy;
  copy.set_root(tree::copy_subtree(copy, form_document, *top));
  copy.reindex_document_order();
  return copy;
}

Templates extract_templates(Document& instance) {
  Templates templates;
  std::optional<NodeId> root = instance.root();
  if (!root) return templates;
  if (!instance.order_is_current()) instance.reindex_document_order();
  std::vector<NodeId> marked;
  for (NodeId element : tree::descendants(instance, *root))
    if (has_template_attribute(instance, element)) marked.push_back(element);

  // A template's row is its element as it stands when cut, and nothing below
  // it has been cut by then: so every row is a subtree of the instance as it
  // was, and one copy of that holds them all, nested ones sharing nodes. The
  // same copy is the form's instance that edits are held to.
  Document& rows = templates.rows;
  rows.set_root(tree::copy_subtree(rows, instance, *root));
  rows.reindex_document_order();
  std::vector<NodeId> row_of;
  row_of.reserve(marked.size());
  for (NodeId element : marked)
    row_of.push_back(rows.at_order_position(instance.order_position(element)));
  if (!marked.empty()) {
    remove_template_attributes(rows);
    rows.reindex_document_order();
  }
  templates.outline = InstanceOutline(rows, row_of);

  for (NodeId element : marked) instance.detach(element);
  if (!marked.empty()) instance.reindex_document_order();
  return templates;
}

std::expected<Session, std::string> session_new(std::string_view form_text, xpath::Clock clock) {
  auto form = load_form_model(form_text);
  if (!form) return std::unexpected(std::move(form.error()));
  // The form document is already read; its instance is taken from it.
  auto instance = primary_instance(form->form_document);
  if (!instance) return std::unexpected(std::move(instance.error()));
  Templates templates = extract_templates(*instance);
  ControlsByRef controls = controls_by_ref(form->form_document);
  std::size_t bytes = instance->stored_bytes();
  return Session{std::move(*instance), std::move(*form), std::move(clock), std::move(templates),
                 PathIndex(), std::move(controls), {}, bytes};
}

std::expected<Session, std::string> session_with_instance(std::string_view form_text,
                                                          std::string_view instance_text,
                                                          xpath::Clock clock) {
  auto form = load_form_model(form_text);
  if (!form) return std::unexpected(std::move(form.error()));
  auto saved = tree::parse_xml(instance_text);
  if (!saved) return std::unexpected(detail::msg::saved_instance(saved.error()));
  auto own = primary_instance(form->form_document);
  if (!own) return std::unexpected(std::move(own.error()));
  if (auto same = check_same_form(*form, *saved); !same)
    return std::unexpected(detail::msg::saved_instance(same.error()));
  Templates templates = extract_templates(*own);
  // Templates never come from saved data; any found there are dropped.
  drop_templates(*saved);
  ControlsByRef controls = controls_by_ref(form->form_document);
  std::size_t bytes = saved->stored_bytes();
  return Session{std::move(*saved), std::move(*form), std::move(clock), std::move(templates),
                 PathIndex(), std::move(controls), {}, bytes};
}

}  // namespace tovarn::form
