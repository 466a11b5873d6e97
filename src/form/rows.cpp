#include "form/detail/rows.h"

#include <optional>
#include <span>
#include <variant>

#include "form/detail/child_index.h"

namespace tovarn::form::detail {

using xpath::Axis;
using xpath::Expr;
using xpath::Step;

namespace {

// Takes a nodeset's names down the trie of repeats as they come: past the
// first name no repeat path continues with, none can lead to a row, and only
// the depth is counted on.
class PlaceWalk {
 public:
  explicit PlaceWalk(RowPlace& place) : place_(place) { restart(); }
  void restart() {
    place_.names.clear();
    place_.rows.clear();
    place_.depth = 0;
    at_ = Repeats::kTop;
  }
  // Where the walk stands, to come back to after a name taken for a while.
  struct Mark {
    std::size_t names, rows;
    std::uint32_t depth, at;
  };
  Mark mark() const { return {place_.names.size(), place_.rows.size(), place_.depth, at_}; }
  void back(const Mark& mark) {
    place_.names.resize(mark.names);
    place_.rows.resize(mark.rows);
    place_.depth = mark.depth;
    at_ = mark.at;
  }
  void element(const Repeats& repeats, std::string_view name) {
    ++place_.depth;
    if (at_ == Repeats::kNone) return;
    at_ = repeats.child(at_, name);
    if (at_ == Repeats::kNone) return;
    place_.names.push_back(name);
    // A node that is itself a row lies in it, as do its attributes.
    if (repeats.is_repeat(at_)) place_.rows.push_back(place_.depth);
  }
  void attribute() { ++place_.depth; }
  bool in_row() const { return !place_.rows.empty(); }

 private:
  RowPlace& place_;
  std::uint32_t at_ = Repeats::kTop;
};

bool plain_child(const Step& step) {
  return step.axis == Axis::child && step.name_test && step.predicates.empty();
}

class Reader {
 public:
  Reader(const RowPlace& place, bool context_is_node, xpath::ExprArena& arena)
      : place_(place), context_is_node_(context_is_node), arena_(arena) {}

  // Whether an absolute path of the tree reaches the outermost row's step
  // by its name: most rules of a row have none, and looking costs less than
  // reading them.
  bool may_read_row(const Expr& e) const {
    auto steps = [this](std::span<const Step> steps) {
      for (const Step& step : steps)
        for (const Expr& p : step.predicates)
          if (may_read_row(p)) return true;
      return false;
    };
    auto any = [this](std::span<const Expr> items) {
      for (const Expr& item : items)
        if (may_read_row(item)) return true;
      return false;
    };
    switch (e.node.index()) {
      case 3: {
        const auto& path = std::get<Expr::LocationPath>(e.node);
        const std::uint32_t row = place_.rows.front();
        if (path.absolute && path.steps.size() > row &&
            path.steps[row - 1].name_test == place_.names[row - 1])
          return true;
        return steps(path.steps);
      }
      case 4: {
        const auto& f = std::get<Expr::FilterPath>(e.node);
        return may_read_row(*f.primary) || any(f.predicates) || steps(f.steps);
      }
      case 5:
        return any(std::get<Expr::FunctionCall>(e.node).args);
      case 6: {
        const auto& b = std::get<Expr::Binary>(e.node);
        return may_read_row(*b.lhs) || may_read_row(*b.rhs);
      }
      case 7:
        return may_read_row(*std::get<Expr::Negate>(e.node).operand);
      case 8: {
        const auto& u = std::get<Expr::Union>(e.node);
        return may_read_row(*u.lhs) || may_read_row(*u.rhs);
      }
      default:
        return false;
    }
  }

  // The tree read in rows, or `e` itself. Recursion is bounded by the
  // parser's depth limit.
  const Expr* read(const Expr& e, bool in_predicate) {
    switch (e.node.index()) {
      case 3:
        return read_path(e, in_predicate);
      case 4: {
        const auto& f = std::get<Expr::FilterPath>(e.node);
        const Expr* primary = read(*f.primary, in_predicate);
        auto predicates = read_list(f.predicates, true);
        auto steps = read_predicates_of(f.steps);
        if (primary == f.primary.get() && !predicates && !steps) return &e;
        return made(Expr::FilterPath{primary, predicates.value_or(f.predicates),
                                     steps.value_or(f.steps)});
      }
      case 5: {
        const auto& call = std::get<Expr::FunctionCall>(e.node);
        auto args = read_list(call.args, in_predicate);
        if (!args) return &e;
        return made(Expr::FunctionCall{call.name, *args});
      }
      case 6: {
        const auto& b = std::get<Expr::Binary>(e.node);
        const Expr* lhs = read(*b.lhs, in_predicate);
        const Expr* rhs = read(*b.rhs, in_predicate);
        if (lhs == b.lhs.get() && rhs == b.rhs.get()) return &e;
        return made(Expr::Binary{b.op, lhs, rhs});
      }
      case 7: {
        const auto& n = std::get<Expr::Negate>(e.node);
        const Expr* operand = read(*n.operand, in_predicate);
        if (operand == n.operand.get()) return &e;
        return made(Expr::Negate{operand});
      }
      case 8: {
        const auto& u = std::get<Expr::Union>(e.node);
        const Expr* lhs = read(*u.lhs, in_predicate);
        const Expr* rhs = read(*u.rhs, in_predicate);
        if (lhs == u.lhs.get() && rhs == u.rhs.get()) return &e;
        return made(Expr::Union{lhs, rhs});
      }
      default:
        return &e;
    }
  }

 private:
  template <class Kind>
  const Expr* made(Kind kind) {
    Expr out;
    out.node = kind;
    return arena_.make(out);
  }

  // The names leading to the row the path reads, or 0 when it reads none.
  std::uint32_t row_of(const Expr::LocationPath& path) const {
    if (!path.absolute) return 0;
    std::uint32_t matched = 0;
    while (matched < path.steps.size() && matched < place_.names.size() &&
           plain_child(path.steps[matched]) &&
           *path.steps[matched].name_test == place_.names[matched])
      ++matched;
    std::uint32_t row = 0;
    for (const std::uint32_t r : place_.rows)
      if (r <= matched && r < path.steps.size()) row = r;
    return row;
  }

  const Expr* read_path(const Expr& e, bool in_predicate) {
    const auto& path = std::get<Expr::LocationPath>(e.node);
    const std::uint32_t row = row_of(path);
    if (row == 0) {
      auto steps = read_predicates_of(path.steps);
      if (!steps) return &e;
      Expr::LocationPath out = path;
      out.steps = *steps;
      return made(out);
    }
    std::vector<Step> steps(place_.depth - row, Step{Axis::parent, xpath::NodeType::node, std::nullopt, {}});
    for (std::size_t i = row; i < path.steps.size(); ++i) {
      Step step = path.steps[i];
      if (auto predicates = read_list(step.predicates, true)) step.predicates = *predicates;
      steps.push_back(step);
    }
    return made(Expr::LocationPath{.absolute = false,
                                   .steps = arena_.copy(std::span<const Step>(steps)),
                                   .from_rule_node = in_predicate || !context_is_node_});
  }

  // The items read in rows, or none when none changes.
  std::optional<std::span<const Expr>> read_list(std::span<const Expr> items, bool in_predicate) {
    if (items.empty()) return std::nullopt;
    std::vector<Expr> out;
    for (std::size_t i = 0; i < items.size(); ++i) {
      const Expr* item = read(items[i], in_predicate);
      if (item == &items[i]) continue;
      if (out.empty()) out.assign(items.begin(), items.end());
      out[i] = *item;
    }
    if (out.empty()) return std::nullopt;
    return arena_.copy(std::span<const Expr>(out));
  }

  // The steps with their predicates read in rows, or none when none changes.
  std::optional<std::span<const Step>> read_predicates_of(std::span<const Step> steps) {
    std::vector<Step> out;
    for (std::size_t i = 0; i < steps.size(); ++i) {
      if (steps[i].predicates.empty()) continue;
      auto predicates = read_list(steps[i].predicates, true);
      if (!predicates) continue;
      if (out.empty()) out.assign(steps.begin(), steps.end());
      out[i].predicates = *predicates;
    }
    if (out.empty()) return std::nullopt;
    return arena_.copy(std::span<const Step>(out));
  }

  const RowPlace& place_;
  const bool context_is_node_;
  xpath::ExprArena& arena_;
};

}  // namespace

bool read_row_place(const xpath::Expr& nodeset, const Repeats& repeats, RowPlace& place) {
  const auto* path = std::get_if<Expr::LocationPath>(&nodeset.node);
  if (path == nullptr || !path->absolute || path->steps.empty()) return false;
  PlaceWalk walk(place);
  for (std::size_t i = 0; i < path->steps.size(); ++i) {
    const Step& step = path->steps[i];
    if (!step.name_test) return false;
    if (step.axis == Axis::child)
      walk.element(repeats, *step.name_test);
    else if (step.axis == Axis::attribute && i + 1 == path->steps.size())
      walk.attribute();
    else
      return false;
  }
  return walk.in_row();
}

const xpath::Expr& read_in_rows(const xpath::Expr& expr, const RowPlace& place,
                                bool context_is_node, xpath::ExprArena& arena) {
  Reader reader(place, context_is_node, arena);
  return reader.may_read_row(expr) ? *reader.read(expr, false) : expr;
}

void read_rules_in_rows(FormModel& model) {
  if (!model.repeats) return;
  const Repeats& repeats = *model.repeats;
  auto read_rules = [&](Bind& bind, const RowPlace& place) {
    for (const xpath::Expr** rule : {&bind.relevant, &bind.calculate, &bind.constraint,
                                     &bind.required})
      if (*rule != nullptr) *rule = &read_in_rows(**rule, place, true, model.expressions);
  };
  RowPlace place;
  // Binds come in the instance's order, siblings together, so the walk to a
  // plain nodeset's parent serves the next one too: a name looked up each.
  RowPlace parent_place;
  PlaceWalk parent(parent_place);
  std::optional<std::string_view> parent_text;
  for (Bind& bind : model.binds) {
    if (!bind.relevant && !bind.calculate && !bind.constraint && !bind.required) continue;
    if (!bind.nodeset_plain) {
      if (bind.nodeset_path && read_row_place(*bind.nodeset_path, repeats, place))
        read_rules(bind, place);
      continue;
    }
    const std::size_t slash = bind.nodeset.rfind('/');
    const std::string_view up = bind.nodeset.substr(0, slash);
    if (up != parent_text) {
      parent.restart();
      for_each_name(up, [&](std::string_view name) { parent.element(repeats, name); });
      parent_text = up;
    }
    const PlaceWalk::Mark at_parent = parent.mark();
    parent.element(repeats, bind.nodeset.substr(slash + 1));
    if (parent.in_row()) read_rules(bind, parent_place);
    parent.back(at_parent);
  }
}

}  // namespace tovarn::form::detail
