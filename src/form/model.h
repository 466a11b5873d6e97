#pragma once
// A loaded form: the form document, its binds with their rules parsed once,
// the order its calculations run in, its secondary instances and its itext.
// Immutable once loaded; every later evaluation reuses the parsed trees.

#include <cstddef>
#include <expected>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tree/document.h"
#include "xpath/expr.h"

namespace tovarn::form {

// Rules are null where the bind has none; they live in their form's arena.
struct Bind {
  // The "nodeset" attribute, else "ref", as written (untrimmed); loading
  // keeps the text in the model's expression arena.
  std::string_view nodeset;
  std::optional<std::string> constraintMsg;
  std::optional<std::string> requiredMsg;
  const xpath::Expr* relevant = nullptr;
  const xpath::Expr* calculate = nullptr;
  const xpath::Expr* constraint = nullptr;
  const xpath::Expr* required = nullptr;
  // Parsed so that a broken one refuses the form; never evaluated.
  const xpath::Expr* readonly = nullptr;
  // How `nodeset` was read at load. Most nodesets are plain child paths
  // ("/data/group/q": ASCII names, nothing else), which select child by child
  // from the root and need no tree; any other nodeset is kept parsed. With
  // neither, the nodeset does not parse and selects no node; that never
  // refuses the form.
  bool nodeset_plain = false;
  const xpath::Expr* nodeset_path = nullptr;
};

// The calculations from `begin` to `end` of a form's calculation order.
struct CalculationLoop {
  std::size_t begin;
  std::size_t end;
};

using SecondaryInstances = std::map<std::string, tree::Document, std::less<>>;

namespace detail {
class InstanceShape;  // what completion reads of the instance (completion.cpp)
class Repeats;        // the paths of the form's repeats (repeats.h)
}  // namespace detail

struct FormModel {
  tree::Document form_document;
  // Every expression tree of the binds.
  xpath::ExprArena expressions;
  // One per bind element, in document order.
  std::vector<Bind> binds;
  // Indices into `binds` of every bind with a calculate, each after every
  // calculate bind it reads, except within a loop.
  std::vector<std::size_t> calculation_order;
  // Stretches of calculation_order whose calculations may read each other
  // round in a circle, through reads the load could not pin down to nodes (a
  // wildcard, a sibling axis, a group's string value): a recompute runs each
  // again until a pass changes nothing. Ascending and disjoint.
  std::vector<CalculationLoop> calculation_loops;
  // By id; each document's root is a copy of the form's instance element.
  // A model loaded for one request copies one only when an evaluation asks
  // for it by id (`secondary_instance`): judging reads the model document's
  // own copies, and a large instance costs more to copy than the rest of the
  // load. Filled only so, and only for such a model.
  mutable SecondaryInstances secondary_instances;
  // By id, the instance elements of form_document those documents copy.
  std::map<std::string, tree::NodeId, std::less<>> secondary_elements;
  // The texts of the translation marked default, else of the first, by id.
  std::map<std::string, std::string, std::less<>> itext;
  // The primary instance as completion reads it; its ids are form_document's.
  std::shared_ptr<const detail::InstanceShape> instance_shape;
  // Null for a form without repeats.
  std::shared_ptr<const detail::Repeats> repeats;
};

// Reads and parses a form, or refuses it with one message: the reader's
// (prefixed "XForm XML: "), a document that is no XForm (require_model_element),
// a bind without nodeset, a rule that does not parse, a form without binds, or
// a cycle of calculations.
[[nodiscard]] std::expected<FormModel, std::string> load_form_model(std::string_view text);
// The same load for a model that lives for one request: the text becomes the
// form document's character store instead of being copied piece by piece.
[[nodiscard]] std::expected<FormModel, std::string> load_form_model_for_request(std::string text);

// The secondary instance of that id, copied now if the load left it for
// later; nullptr for an id no instance has.
const tree::Document* secondary_instance(const FormModel& form, std::string_view id);

// Refuses a document in which no element, the root included, is named
// "model": every XForm has one, so this is some other XML (a page, a
// submission) and not a form without rules. Stops at the first model element,
// which in a form comes early.
[[nodiscard]] std::expected<void, std::string> require_model_element(const tree::Document& doc);

// The value of the node's first attribute of that name, unless that one is
// blank (a later namesake is not consulted).
std::optional<std::string_view> attribute_if_not_blank(const tree::Document& doc, tree::NodeId node,
                                                       std::string_view name);

}  // namespace tovarn::form
