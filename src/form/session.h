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
#include "form/session_outline.h"
#include "tree/document.h"
#include "xpath/environment.h"

namespace tovarn::form {

// The repeat templates and the form's primary instance they are part of.
// `rows` is a copy of that instance with no template attribute at any depth,
// so a nested template's row is part of its outer template's row; `outline`
// reads it as paths, and each repeat's entry there holds its row. A repeat is
// named by its path of names in the form's instance ("/data/hh/kid"), which
// `outline.path` gives.
struct Templates {
  tree::Document rows;
  InstanceOutline outline;
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
  // By instance node id, what templates.outline.entry_of found for it.
  std::vector<std::uint32_t> outline_entries = {};
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
// out of the instance and returns their rows with the instance as it was; a
// later template of the same path replaces an earlier one.
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
// is read as '/'-separated names, each without its prefix and with a position
// or without: existing elements are followed from the root (a first segment
// naming the root stands for it), missing ones created where the form's
// instance puts them, and a last segment "@name" names an attribute. Refuses,
// changing nothing: a value holding a character XML cannot carry; a path that
// names no element of the form's instance; one that leads through a row that
// does not exist, or through several rows without a position to choose one;
// one without names or with a segment that is no name; and an instance
// without root.
[[nodiscard]] std::expected<void, std::string> set_value(Session& session, std::string_view path,
                                                         std::string_view value);

// Adds a copy of the repeat's template row after its last row, or, for the
// first, where the form's instance puts the template. The path is the
// repeat's, exactly ("/data/hh/kid"), with a position on a step above the
// repeat where the instance has several elements of that name
// ("/data/hh[2]/kid"); several without one are refused, naming them. Refused
// too for a path that is no repeat of the form and where an element on the
// way is lacking, changing nothing. Returns the number of rows now.
[[nodiscard]] std::expected<std::uint64_t, std::string> add_row(Session& session,
                                                                std::string_view path);
// Detaches the row at `position` (from 1) of the repeat at `path`, read as
// add_row reads it; the rows left.
[[nodiscard]] std::expected<std::uint64_t, std::string> remove_row(Session& session,
                                                                   std::string_view path,
                                                                   std::uint64_t position);
// The rows of every repeat, keyed by the node path of each element its rows
// hang from and the repeat's name: a nested repeat's under each outer row
// ("/data/hh[2]/kid"). A repeat with no such element counts 0 under its own
// path.
std::map<std::string, std::uint64_t> count_rows(const Session& session);

struct Choice {
  std::string value;  // untrimmed, never blank
  std::string label;
};
// The itemset of the control whose ref is `path`, evaluated against the
// answers so far; none when the control or its computed list is missing, an
// empty list when the list fails to evaluate.
std::optional<std::vector<Choice>> choices(const Session& session, std::string_view path);

}  // namespace tovarn::form
