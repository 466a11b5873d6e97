#pragma once
// What the rules of a form read, as patterns of paths below the model
// document's root, read off the expression trees alone: nothing is evaluated
// and no document is consulted. The calculation order is built from them.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "form/model.h"
#include "xpath/expr.h"

namespace tovarn::form::detail {

// One step of a pattern.
struct Segment {
  enum class Kind : std::uint8_t {
    name,       // an element of that name
    attribute,  // an attribute of that name; an empty name is any attribute
    instance,   // the secondary instance of that id, as instance('id') names it
    any_name,   // any one element
    any_depth,  // any elements between, none included
  };
  Kind kind;
  std::string_view name;
};

// Whether a segment stands for elements, which the descendant steps and a
// string value reach.
inline bool is_element(const Segment& s) { return s.kind != Segment::Kind::attribute; }

// A path that a rule reads. `pinned` says the pattern names exactly the nodes
// the path selects, or more through a predicate it drops: no wildcard, and no
// step other than child, parent, self or an ancestor step that one segment
// answers. `value` says the nodes' string values are read, and with them the
// texts of their descendants; where only the nodes themselves count (count(),
// a test of existence), a path that is not pinned reads nothing.
struct PathRead {
  std::span<const Segment> segments;
  bool pinned;
  bool value;
};

// Where a bind's nodeset points: its segments (empty for the root) and
// whether they are pinned. A nodeset that does not parse, yields no node-set
// or takes a step that leaves nothing selects no node.
struct Place {
  std::vector<Segment> segments;
  bool pinned = true;
  bool selects = true;
};

using VisitRead = std::function<void(const PathRead&)>;

// The walks for many expressions in turn, reusing their buffers.
class PathReads {
 public:
  // Fills `place` with where the bind's nodeset points, and hands `visit` the
  // reads of its predicates, which decide what a calculation is given.
  void nodeset(const Bind& bind, Place& place, const VisitRead& visit);
  // The same for a nodeset text, parsed here; the place's names view the
  // text or its tree, which is kept until the next text.
  void nodeset(std::string_view text, Place& place, const VisitRead& visit);
  // Hands `visit` each path the rule reads, relative ones resolved against
  // `base` (pinned or not), each after the paths of its predicates.
  void rule(const xpath::Expr& expr, std::span<const Segment> base, bool pinned,
            const VisitRead& visit);

 private:
  std::vector<Segment> store_;
  std::optional<xpath::Expression> parsed_;
};

// Whether some node the read's pattern names, or with `value` an element
// below one, is one the nodeset's pattern names. Patterns are short, so the
// match runs over every pair of their positions.
bool pattern_reaches(std::span<const Segment> read, bool value, std::span<const Segment> nodeset);

// The pattern as a path text: "/" and the segments joined by "/", an
// attribute as "@name" (or "@*"), an instance as "instance('id')", any
// element as "*", any elements between as an empty segment ("/data//v",
// "/data//" for everything below /data).
void append_pattern(std::span<const Segment> segments, std::string& out);

}  // namespace tovarn::form::detail
