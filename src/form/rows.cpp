#include "form/detail/rows.h"

#include <span>
#include <variant>

#include "form/detail/child_index.h"

namespace tovarn::form::detail {

using xpath::Axis;
using xpath::Expr;
using xpath::Step;

namespace {

// Which of the names lead to rows; none when none does.
std::optional<RowPlace> with_rows(RowPlace place, const Repeats& repeats) {
  std::uint32_t at = Repeats::kTop;
  for (std::uint32_t i = 0; i < place.names.size(); ++i) {
    at = repeats.child(at, place.names[i]);
    if (at == Repeats::kNone) break;
    // A node that is itself a row lies in it, as do its attributes.
    if (repeats.is_repeat(at)) place.rows.push_back(i + 1);
  }
  if (place.rows.empty()) return std::nullopt;
  return place;
}

bool plain_child(const Step& step) {
  return step.axis == Axis::child && step.name_test && step.predicates.empty();
}

class Reader {
 public:
  Reader(const RowPlace& place, bool context_is_node, xpath::ExprArena& arena)
      : place_(place), context_is_node_(context_is_node), arena_(arena) {}

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
    std::vector<Step> steps(place_.depth - row, Step{Axis::parent, std::nullopt, {}});
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

std::optional<RowPlace> row_place(const xpath::Expr& nodeset, const Repeats& repeats) {
  const auto* path = std::get_if<Expr::LocationPath>(&nodeset.node);
  if (path == nullptr || !path->absolute || path->steps.empty()) return std::nullopt;
  RowPlace place;
  for (const Step& step : path->steps) {
    if (!step.name_test || place.depth > place.names.size()) return std::nullopt;
    if (step.axis == Axis::child)
      place.names.push_back(*step.name_test);
    else if (step.axis != Axis::attribute)
      return std::nullopt;
    ++place.depth;
  }
  return with_rows(std::move(place), repeats);
}

std::optional<RowPlace> row_place(const Bind& bind, const Repeats& repeats) {
  if (bind.nodeset_path) return row_place(*bind.nodeset_path, repeats);
  if (!bind.nodeset_plain) return std::nullopt;
  RowPlace place;
  for_each_name(bind.nodeset, [&](std::string_view name) { place.names.push_back(name); });
  place.depth = static_cast<std::uint32_t>(place.names.size());
  return with_rows(std::move(place), repeats);
}

const xpath::Expr& read_in_rows(const xpath::Expr& expr, const RowPlace& place,
                                bool context_is_node, xpath::ExprArena& arena) {
  return *Reader(place, context_is_node, arena).read(expr, false);
}

void read_rules_in_rows(FormModel& model) {
  if (!model.repeats) return;
  for (Bind& bind : model.binds) {
    const std::optional<RowPlace> place = row_place(bind, *model.repeats);
    if (!place) continue;
    for (const xpath::Expr** rule : {&bind.relevant, &bind.calculate, &bind.constraint,
                                     &bind.required})
      if (*rule != nullptr) *rule = &read_in_rows(**rule, *place, true, model.expressions);
  }
}

}  // namespace tovarn::form::detail
