#include "form/paths.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "form/detail/child_index.h"
#include "form/detail/path_reads.h"
#include "tree/fast_paths.h"
#include "xpath/parse.h"

namespace tovarn::form {
namespace detail {
namespace {

using xpath::Axis;
using xpath::Expr;
using xpath::Step;
using Kind = Segment::Kind;

// The model document's root element: an absolute path whose first step names
// it starts there.
constexpr std::string_view kModelRoot = "model";

// How what holds an expression takes its value: as text (a string value, a
// number, a comparison), or only as nodes (counted, named, tested for being
// there), which no calculation can change.
enum class Use : std::uint8_t { value, nodes };

Use argument_use(std::string_view function, std::size_t position, Use call) {
  // position(..), as forms write it for a row's number, names a node too.
  if (function == "count" || function == "name" || function == "local-name" ||
      function == "position" || function == "boolean" || function == "not")
    return Use::nodes;
  // The branches of if() are its value.
  if (function == "if") return position == 0 ? Use::nodes : call;
  // indexed-repeat(value, repeat, index, repeat, index...) names its repeats.
  if (function == "indexed-repeat") return position % 2 == 1 ? Use::nodes : Use::value;
  return Use::value;
}

bool takes_context_text(std::string_view function) {
  return function == "string" || function == "number" || function == "string-length" ||
         function == "normalize-space";
}

// The id of instance('id'), where a path into a secondary instance starts.
std::optional<std::string_view> instance_id(const Expr& expr) {
  const auto* call = std::get_if<Expr::FunctionCall>(&expr.node);
  if (call == nullptr || call->name != "instance" || call->args.size() != 1) return std::nullopt;
  const auto* id = std::get_if<Expr::Literal>(&call->args[0].node);
  if (id == nullptr) return std::nullopt;
  return id->text;
}

// Recursion follows the expression tree, whose depth the parser bounds. A
// pattern is built at the end of `store_`; a predicate's walk builds its own
// patterns after it and leaves the store as it found it.
class Walker {
 public:
  Walker(std::vector<Segment>& store, const VisitRead& visit) : store_(store), visit_(visit) {}

  // The context of relative paths: the segments from `begin` to the end of
  // the store when it was set.
  struct Context {
    std::size_t begin;
    std::size_t size;
    bool pinned;
  };

  void set_context(Context context) { context_ = context; }

  void walk(const Expr& expr, Use use) {
    std::visit([&](const auto& node) { on(node, expr, use); }, expr.node);
  }

  // Appends the pattern of what a path expression selects, walking its
  // predicates on the way; false when it can select nothing.
  bool build(const Expr& expr, bool& pinned) {
    if (const auto* path = std::get_if<Expr::LocationPath>(&expr.node)) return build(*path, pinned);
    if (const auto* filter = std::get_if<Expr::FilterPath>(&expr.node)) {
      const std::size_t begin = store_.size();
      if (!build(*filter->primary, pinned)) return false;
      predicates(filter->predicates, begin, pinned);
      return steps(filter->steps, begin, pinned);
    }
    if (std::optional<std::string_view> id = instance_id(expr)) {
      store_.push_back({Kind::instance, *id});
      return true;
    }
    // Nodes from elsewhere: a union, a function's result.
    walk(expr, Use::nodes);
    store_.push_back({Kind::any_depth, {}});
    pinned = false;
    return true;
  }

 private:
  void on(const Expr::Number&, const Expr&, Use) {}
  void on(const Expr::Literal&, const Expr&, Use) {}
  void on(const Expr::Variable&, const Expr&, Use) {}
  void on(const Expr::LocationPath&, const Expr& expr, Use use) { read(expr, use); }
  void on(const Expr::FilterPath&, const Expr& expr, Use use) { read(expr, use); }
  void on(const Expr::FunctionCall& call, const Expr& expr, Use use) {
    if (instance_id(expr)) return read(expr, use);
    if (call.args.empty() && takes_context_text(call.name)) return read_context();
    for (std::size_t i = 0; i < call.args.size(); ++i)
      walk(call.args[i], argument_use(call.name, i, use));
  }
  void on(const Expr::Binary& binary, const Expr&, Use) {
    const bool logical =
        binary.op == xpath::BinaryOp::logical_or || binary.op == xpath::BinaryOp::logical_and;
    walk(*binary.lhs, logical ? Use::nodes : Use::value);
    walk(*binary.rhs, logical ? Use::nodes : Use::value);
  }
  void on(const Expr::Negate& negate, const Expr&, Use) { walk(*negate.operand, Use::value); }
  void on(const Expr::Union& u, const Expr&, Use use) {
    walk(*u.lhs, use);
    walk(*u.rhs, use);
  }

  // Only a path that names its nodes exactly tells anything when its nodes
  // alone count.
  void read(const Expr& expr, Use use) {
    const std::size_t begin = store_.size();
    bool pinned = true;
    if (build(expr, pinned) && (use == Use::value || pinned))
      visit_(PathRead{std::span<const Segment>(store_).subspan(begin), pinned, use == Use::value});
    store_.resize(begin);
  }

  // string() and its kin without an argument read the context node.
  void read_context() {
    const std::size_t begin = store_.size();
    copy_context();
    visit_(PathRead{std::span<const Segment>(store_).subspan(begin), context_.pinned, true});
    store_.resize(begin);
  }

  void copy_context() {
    store_.reserve(store_.size() + context_.size);
    for (std::size_t i = 0; i < context_.size; ++i) store_.push_back(store_[context_.begin + i]);
  }

  bool build(const Expr::LocationPath& path, bool& pinned) {
    const std::size_t begin = store_.size();
    std::span<const Step> rest = path.steps;
    if (!path.absolute) {
      pinned = context_.pinned;
      copy_context();
    } else if (!rest.empty() && rest[0].axis == Axis::child && rest[0].name_test == kModelRoot) {
      predicates(rest[0].predicates, begin, pinned);
      rest = rest.subspan(1);
    }
    return steps(rest, begin, pinned);
  }

  bool steps(std::span<const Step> steps, std::size_t begin, bool& pinned) {
    for (const Step& step : steps) {
      if (!apply(step, begin, pinned)) return false;
      predicates(step.predicates, begin, pinned);
    }
    return true;
  }

  // A predicate's relative paths start from the nodes it filters.
  void predicates(std::span<const Expr> predicates, std::size_t begin, bool pinned) {
    if (predicates.empty()) return;
    const Context outer = context_;
    context_ = {begin, store_.size() - begin, pinned};
    for (const Expr& predicate : predicates) walk(predicate, Use::nodes);
    context_ = outer;
  }

  void push_test(const Step& step, bool& pinned) {
    if (step.name_test) {
      store_.push_back({Kind::name, *step.name_test});
    } else {
      store_.push_back({Kind::any_name, {}});
      pinned = false;
    }
  }

  bool ends_in_attribute(std::size_t begin) const {
    return store_.size() > begin && store_.back().kind == Kind::attribute;
  }

  // The parent of any elements between is below the parent of where they
  // start.
  bool pop_to_parent(std::size_t begin) {
    if (store_.size() == begin) return false;
    if (store_.back().kind != Kind::any_depth) {
      store_.pop_back();
      return true;
    }
    store_.pop_back();
    if (store_.size() > begin) store_.pop_back();
    store_.push_back({Kind::any_depth, {}});
    return true;
  }

  bool apply(const Step& step, std::size_t begin, bool& pinned) {
    switch (step.axis) {
      case Axis::self:
        return true;
      case Axis::parent:
        return pop_to_parent(begin);
      case Axis::child:
        if (ends_in_attribute(begin)) return false;
        push_test(step, pinned);
        return true;
      case Axis::attribute:
        if (ends_in_attribute(begin)) return false;
        store_.push_back({Kind::attribute, step.name_test.value_or(std::string_view())});
        if (!step.name_test) pinned = false;
        return true;
      case Axis::ancestor:
      case Axis::ancestor_or_self:
        return ancestor(step, begin, pinned);
      case Axis::descendant:
        if (ends_in_attribute(begin)) return false;
        store_.push_back({Kind::any_depth, {}});
        push_test(step, pinned);
        pinned = false;
        return true;
      case Axis::descendant_or_self:
        if (!ends_in_attribute(begin)) store_.push_back({Kind::any_depth, {}});
        pinned = false;
        return true;
      case Axis::following_sibling:
      case Axis::preceding_sibling:
        // The siblings of that name, whichever side of the node they stand.
        if (ends_in_attribute(begin) || !pop_to_parent(begin) || store_.size() == begin)
          return false;
        push_test(step, pinned);
        pinned = false;
        return true;
      case Axis::following:
      case Axis::preceding:
        store_.resize(begin);
        store_.push_back({Kind::any_depth, {}});
        push_test(step, pinned);
        pinned = false;
        return true;
    }
    return false;
  }

  // Each ancestor is a prefix of the pattern; the root is "model". One
  // prefix that can answer keeps the pattern pinned; with more, the pattern
  // goes on from the shallowest, below which the others lie.
  bool ancestor(const Step& step, std::size_t begin, bool& pinned) {
    const std::size_t size = store_.size() - begin;
    const bool or_self = step.axis == Axis::ancestor_or_self;
    // Elements between, the node's own segment though they are, hold
    // ancestors of it too.
    const bool last_between = size > 0 && store_.back().kind == Kind::any_depth;
    const std::size_t candidates = or_self || last_between ? size : (size > 0 ? size - 1 : 0);
    const std::optional<std::string_view>& test = step.name_test;
    // Prefix lengths, the root's being 0.
    std::optional<std::size_t> shallowest;
    std::size_t found = 0;
    bool wild = false;
    if ((size > 0 || or_self) && (!test || *test == kModelRoot)) {
      shallowest = 0;
      ++found;
    }
    for (std::size_t i = 0; i < candidates; ++i) {
      const Segment& s = store_[begin + i];
      const bool any = s.kind == Kind::any_name || s.kind == Kind::any_depth;
      wild = wild || any;
      const bool answers = any || (s.kind == Kind::name && (!test || s.name == *test)) ||
                           (s.kind == Kind::instance && (!test || *test == "instance"));
      if (!answers) continue;
      if (!shallowest) shallowest = i + 1;
      ++found;
    }
    if (!shallowest) return false;
    store_.resize(begin + *shallowest);
    if (found == 1 && !wild) return true;
    if (store_.size() == begin || store_.back().kind != Kind::any_depth)
      store_.push_back({Kind::any_depth, {}});
    pinned = false;
    return true;
  }

  std::vector<Segment>& store_;
  const VisitRead& visit_;
  Context context_{0, 0, true};
};

void ignore(const PathRead&) {}

}  // namespace

void PathReads::nodeset(const Bind& bind, Place& place, const VisitRead& visit) {
  place.segments.clear();
  place.pinned = true;
  place.selects = true;
  if (bind.nodeset_plain) {
    std::size_t index = 0;
    for_each_name(bind.nodeset, [&](std::string_view name) {
      if (index++ > 0 || name != kModelRoot) place.segments.push_back({Kind::name, name});
    });
    return;
  }
  const xpath::Expr* path = bind.nodeset_path;
  // A nodeset whose value is no node-set selects nothing.
  if (path == nullptr || std::holds_alternative<Expr::Number>(path->node) ||
      std::holds_alternative<Expr::Literal>(path->node) ||
      std::holds_alternative<Expr::Variable>(path->node) ||
      std::holds_alternative<Expr::Binary>(path->node) ||
      std::holds_alternative<Expr::Negate>(path->node)) {
    place.selects = false;
    return;
  }
  store_.clear();
  Walker walker(store_, visit);
  place.selects = walker.build(*path, place.pinned);
  place.segments.assign(store_.begin(), store_.end());
}

void PathReads::nodeset(std::string_view text, Place& place, const VisitRead& visit) {
  Bind bind;
  bind.nodeset = text;
  bind.nodeset_plain = kFastPaths && is_plain_child_path(text);
  parsed_.reset();
  if (!bind.nodeset_plain) {
    if (auto expr = xpath::parse_expression(text)) {
      parsed_.emplace(std::move(*expr));
      bind.nodeset_path = &*parsed_;
    }
  }
  nodeset(bind, place, visit);
}

void PathReads::rule(const xpath::Expr& expr, std::span<const Segment> base, bool pinned,
                     const VisitRead& visit) {
  store_.assign(base.begin(), base.end());
  Walker walker(store_, visit);
  walker.set_context({0, store_.size(), pinned});
  walker.walk(expr, Use::value);
}

namespace {

bool same_segment(const Segment& a, const Segment& b) {
  switch (a.kind) {
    case Kind::name:
      return (b.kind == Kind::name && a.name == b.name) || b.kind == Kind::any_name ||
             (b.kind == Kind::instance && a.name == "instance");
    case Kind::attribute:
      return b.kind == Kind::attribute && (a.name.empty() || b.name.empty() || a.name == b.name);
    case Kind::instance:
      return (b.kind == Kind::instance && a.name == b.name) || b.kind == Kind::any_name ||
             (b.kind == Kind::name && b.name == "instance");
    case Kind::any_name:
      return b.kind != Kind::attribute;
    case Kind::any_depth:
      return b.kind != Kind::attribute;
  }
  return false;
}

}  // namespace

bool pattern_reaches(std::span<const Segment> read, bool value, std::span<const Segment> nodeset) {
  // row[j] says whether the first i segments of the read can name what the
  // first j of the nodeset name. Every move goes right or down, so two rows
  // are enough; most paths fit the array.
  const std::size_t columns = nodeset.size() + 1;
  std::array<unsigned char, 128> cells{};
  std::vector<unsigned char> more;
  unsigned char* row = cells.data();
  if (2 * columns > cells.size()) {
    more.assign(2 * columns, 0);
    row = more.data();
  }
  unsigned char* next = row + columns;
  row[0] = 1;
  for (std::size_t i = 0;; ++i) {
    const Segment* r = i < read.size() ? &read[i] : nullptr;
    for (std::size_t j = 0; j < columns; ++j) {
      if (!row[j]) continue;
      const Segment* n = j < nodeset.size() ? &nodeset[j] : nullptr;
      if (r == nullptr) {
        // Past the read's end, a value read takes in the elements below.
        if (n == nullptr) return true;
        if ((value || n->kind == Kind::any_depth) && is_element(*n)) row[j + 1] = 1;
      } else if (r->kind == Kind::any_depth) {
        next[j] = 1;
        if (n != nullptr && is_element(*n)) row[j + 1] = 1;
      } else if (n != nullptr && n->kind == Kind::any_depth) {
        row[j + 1] = 1;
        if (is_element(*r)) next[j] = 1;
      } else if (n != nullptr && same_segment(*r, *n)) {
        next[j + 1] = 1;
      }
    }
    if (r == nullptr) return false;
    std::swap(row, next);
    std::fill(next, next + columns, 0);
  }
}

void append_pattern(std::span<const Segment> segments, std::string& out) {
  if (segments.empty()) out += '/';
  for (const Segment& s : segments) {
    out += '/';
    switch (s.kind) {
      case Kind::name:
        out += s.name;
        break;
      case Kind::attribute:
        out += '@';
        out += s.name.empty() ? std::string_view("*") : s.name;
        break;
      case Kind::instance:
        out += "instance('";
        out += s.name;
        out += "')";
        break;
      case Kind::any_name:
        out += '*';
        break;
      case Kind::any_depth:
        // Between two segments the slash before the next one closes it.
        if (&s == &segments.back()) out += '/';
        break;
    }
  }
}

}  // namespace detail

std::vector<std::string> paths_read(const xpath::Expr& expr, std::string_view base) {
  detail::PathReads reads;
  detail::Place place;
  reads.nodeset(base, place, detail::ignore);
  // From a nodeset that selects nothing, a relative path could be anywhere.
  if (!place.selects) place = {{{detail::Segment::Kind::any_depth, {}}}, false, true};
  std::vector<std::string> out;
  reads.rule(expr, place.segments, place.pinned, [&out](const detail::PathRead& read) {
    std::string text = read.pinned ? "" : "~";
    if (!read.value) text += '#';
    detail::append_pattern(read.segments, text);
    out.push_back(std::move(text));
  });
  return out;
}

}  // namespace tovarn::form
