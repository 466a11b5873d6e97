#pragma once
// A form being filled: the instance, the form it follows, the clock fixed for
// its life and the repeat templates, with the path and row operations on the
// instance. Paths are evaluated in the instance itself, at its root element,
// with the session's clock as the only environment.

#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "form/model.h"
#include "form/path_index.h"
#include "tree/document.h"
#include "xpath/environment.h"

namespace tovarn::form {

// The repeat templates: by repeat path ("/data/rep", an index cut off its
// end), the element in `rows` that is that repeat's template row. `rows` is a
// copy of the instance they were cut from with no template attribute at any
// depth, so a nested template's row is part of its outer template's row.
struct Templates {
  tree::Document rows;
  std::map<std::string, tree::NodeId, std::less<>> by_path;

  auto begin() const { return by_path.begin(); }
  auto end() const { return by_path.end(); }
  bool empty() const { return by_path.empty(); }
};

// Each control's trimmed "ref" to the first control in document order that
// has it, as control_by_ref finds them; a form never changes, so it is made
// once.
using ControlsByRef = std::unordered_map<std::string, tree::NodeId, TextHash, std::equal_to<>>;
ControlsByRef controls_by_ref(const tree::Document& form_document);

struct Session {
  tree::Document instance;  // rooted at the instance's root element
  FormModel form;
  xpath::Clock clock;
  Templates templates;  // always cut from the form's own primary instance
  // Rebuilt by set_value when stale; read by every path lookup when fresh.
  PathIndex paths = {};
  // Of `form`, made by the constructors.
  ControlsByRef controls = {};
  // The instance's stored bytes when it was last copied afresh.
  std::size_t compacted_bytes = 0;
};

// A fresh session on a copy of the form's primary instance.
[[nodiscard]] std::expected<Session, std::string> session_new(std::string_view form_text,
                                                              xpath::Clock clock);
// A session continuing a saved instance; template elements found in it are
// dropped. Errors come in this order: the form's, "saved instance: ..." for
// XML that does not read, the form's primary instance, "saved instance: ..."
// for an instance of another form (check_same_form).
[[nodiscard]] std::expected<Session, std::string> session_with_instance(
    std::string_view form_text, std::string_view instance_text, xpath::Clock clock);

// A copy of the first child element of the first "instance" element below the
// form's root.
[[nodiscard]] std::expected<tree::Document, std::string> primary_instance(
    std::string_view form_text);
[[nodiscard]] std::expected<tree::Document, std::string> primary_instance(
    const tree::Document& form_document);

// Cuts every element below the root that has an attribute named "template"
// out of the instance and returns their rows by repeat path; a later
// template of the same path replaces an earlier one.
Templates extract_templates(tree::Document& instance);

// The first node, in document order, that the path selects; none when it does
// not parse, fails, or yields no node-set.
std::optional<tree::NodeId> first_node(const Session& session, std::string_view path);
// That node's string value, or the empty text.
std::string value_at(const Session& session, std::string_view path);
// The children named like the path's last segment (after its last '/') of the
// node its part before that '/' selects (the root for a leading '/' alone).
std::vector<tree::NodeId> rows_at(const Session& session, std::string_view path);

// Writes the value into the first node the path selects. Otherwise the path
// is read as '/'-separated names, each without its prefix: existing elements
// are followed and missing ones created under the root (a first segment
// naming the root stands for it), and a last segment "@name" names an
// attribute. Refuses a path without names, with an indexed segment or a
// segment that is no name, and an instance without root, changing nothing.
[[nodiscard]] std::expected<void, std::string> set_value(Session& session, std::string_view path,
                                                         std::string_view value);

// A copy of the template row keyed by exactly `path`, placed after the last
// existing row (or, without rows, as the last child of the element the path
// before its last '/' selects); the number of rows after it. Refused without
// such a template or such an element, changing nothing.
[[nodiscard]] std::expected<std::uint64_t, std::string> add_row(Session& session,
                                                                std::string_view path);
// Detaches the row at `position` (from 1) of `rows_at(path)`; the rows left.
[[nodiscard]] std::expected<std::uint64_t, std::string> remove_row(Session& session,
                                                                   std::string_view path,
                                                                   std::uint64_t position);

struct Choice {
  std::string value;  // untrimmed, never blank
  std::string label;
};
// The itemset of the control whose ref is `path`, evaluated against the
// answers so far; none when the control or its computed list is missing, an
// empty list when the list fails to evaluate.
std::optional<std::vector<Choice>> choices(const Session& session, std::string_view path);

}  // namespace tovarn::form
