#include "form/session.h"

#include "form/detail/messages.h"
#include "tree/query.h"
#include "tree/xml.h"

namespace tovarn::form {
namespace {

using tree::Document;
using tree::NodeId;

constexpr std::string_view kTemplate = "template";

bool has_template_attribute(const Document& doc, NodeId element) {
  for (NodeId a : doc.attributes(element))
    if (doc.name(a) == kTemplate) return true;
  return false;
}

// "/data/rep[1]" and "/data/rep" both name the repeat /data/rep.
std::string repeat_path(std::string path) {
  if (path.ends_with(']')) path.erase(path.rfind('['));
  return path;
}

// A row grafted from the template must carry no template attribute anywhere:
// written out and read back as a saved instance, a marked element would be
// cut out again with the answers in it.
Document template_copy(const Document& instance, NodeId element) {
  Document copy;
  copy.set_root(tree::copy_subtree(copy, instance, element));
  std::vector<NodeId> marked;
  for (std::uint32_t i = 0; i < copy.size(); ++i)
    if (copy.is_attribute(NodeId{i}) && copy.name(NodeId{i}) == kTemplate)
      marked.push_back(NodeId{i});
  for (NodeId attribute : marked) copy.remove_attribute(attribute);
  copy.reindex_document_order();
  return copy;
}

// Template elements in saved data are only taken out: copying each one, as
// extract_templates does, costs the square of their nesting depth.
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
  std::vector<NodeId> marked;
  for (NodeId element : tree::descendants(instance, *root))
    if (has_template_attribute(instance, element)) marked.push_back(element);
  for (NodeId element : marked) {
    // Taken as the instance stands now: an inner template of a template cut
    // before it is named from that template down.
    std::string path = repeat_path(tree::node_path(instance, element));
    templates.insert_or_assign(std::move(path), template_copy(instance, element));
    instance.detach(element);
  }
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
                 PathIndex(), std::move(controls), bytes};
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
  Templates templates = extract_templates(*own);
  // Templates never come from saved data; any found there are dropped.
  drop_templates(*saved);
  ControlsByRef controls = controls_by_ref(form->form_document);
  std::size_t bytes = saved->stored_bytes();
  return Session{std::move(*saved), std::move(*form), std::move(clock), std::move(templates),
                 PathIndex(), std::move(controls), bytes};
}

}  // namespace tovarn::form
