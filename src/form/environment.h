#pragma once
// The evaluator's window onto a loaded form: its secondary instances, the
// labels of its choices and the clock. Also the label and itemset lookups
// behind choice labels and a session's choice lists.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "form/model.h"
#include "tree/document.h"
#include "xpath/environment.h"

namespace tovarn::form {

// Bound to one form and the document being evaluated (a model document);
// both must outlive it. It owns only its clock texts.
class FormEnvironment final : public xpath::Environment {
 public:
  // A label or itemset may itself ask for choice labels, even of its own
  // control; `nesting` counts the lookups that enclose this evaluation, and
  // past kMaxLabelNesting no label is found, so such a form cannot recurse
  // without end.
  static constexpr unsigned kMaxLabelNesting = 2;
  FormEnvironment(const FormModel& form, const tree::Document& document, std::string today,
                  std::string now, unsigned nesting = 0)
      : clock_(std::move(today), std::move(now)), form_(form), document_(document),
        nesting_(nesting) {}

  const tree::Document* instance(std::string_view id) const override;
  // Fixed items first, then the itemset; none whenever anything is missing.
  std::optional<std::string> choice_label(std::string_view value,
                                          std::string_view question_path) const override;
  std::string_view today() const override { return clock_.today(); }
  std::string_view now() const override { return clock_.now(); }

  const FormModel& form() const { return form_; }
  const tree::Document& document() const { return document_; }

 private:
  xpath::Clock clock_;
  const FormModel& form_;
  const tree::Document& document_;
  unsigned nesting_;
};

// Whether elements of that name are controls: input, select, select1, range,
// rank, upload.
bool is_control_name(std::string_view name);

// The first control (input, select, select1, range, rank, upload) in
// document order whose first "ref", trimmed, equals the trimmed path.
std::optional<tree::NodeId> control_by_ref(const tree::Document& form_document,
                                           std::string_view path);

// The node's first child element named "label".
std::optional<tree::NodeId> find_label_child(const tree::Document& doc, tree::NodeId node);

// A control's itemset evaluated into its choice nodes.
struct Itemset {
  enum class Outcome { no_list, failed, listed };
  Outcome outcome = Outcome::no_list;
  // When listed: the choice nodes in document order, in `nodes_document`.
  const tree::Document* nodes_document = nullptr;
  std::vector<tree::NodeId> nodes;
  // Views into the form document.
  std::string_view value_name = "name";
  std::optional<std::string_view> label_ref;
};

// Evaluates the itemset of `control` in `document` at its root, with empty
// today and now texts. `nesting`, here and below, goes to the environment of
// the evaluation (see FormEnvironment). With `question`, the node of
// `document` the list is read for, an absolute path through a row holding it
// reads that row, as the rules of the question do.
Itemset read_itemset(const FormModel& form, tree::NodeId control, const tree::Document& document,
                     unsigned nesting = 0, std::optional<tree::NodeId> question = std::nullopt);

// A choice node's value: the string value of its first child named by the
// itemset's value name, untrimmed; empty without one.
std::string itemset_value(const Itemset& itemset, tree::NodeId choice);
// A choice node's label: its label reference evaluated at the node, else its
// value.
std::string itemset_label(const FormModel& form, const Itemset& itemset, tree::NodeId choice,
                          unsigned nesting = 0);

// A label reference or jr:itext(...) message turned into text, evaluated in
// `document` at `node`; the empty text on any failure.
std::string label_text(const FormModel& form, std::string_view text,
                       const tree::Document& document, tree::NodeId node, unsigned nesting = 0);

}  // namespace tovarn::form
