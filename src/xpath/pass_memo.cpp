#include <algorithm>
#include <iterator>
#include <memory>
#include <span>
#include <type_traits>
#include <variant>

#include "tree/fast_paths.h"
#include "xpath/detail/pass_memo.h"
#include "xpath/evaluate.h"
#include "xpath/functions/functions.h"

namespace tovarn::xpath {

namespace detail {

Memos& memos() {
  ThreadState& state = thread_state;
  if (state.memos == nullptr) {
    thread_local struct Owner {
      Memos memos;
      ~Owner() { thread_state.memos = nullptr; }
    } owner;
    state.memos = &owner.memos;
  }
  return *state.memos;
}

const NodeTexts* memo_texts(const Expr& expr, const tree::Document& doc) {
  const auto* path = std::get_if<Expr::LocationPath>(&expr.node);
  if (path == nullptr || !path->absolute) return nullptr;
  MemoPath* memo = memo_path(*path);
  if (memo == nullptr || memo->doc != &doc) return nullptr;
  if (!memo->texts) memo->texts = std::make_unique<NodeTexts>(NodeSet{&doc, memo->nodes});
  return memo->texts.get();
}

PredicatePaths::~PredicatePaths() {
  if (paths_ == nullptr) return;
  TOVARN_CHECK(paths_->size() == end_);
  paths_->resize(mark_);
}

}  // namespace detail

namespace {

using detail::MemoPath;
using detail::MemoValue;
using detail::memos;
using tree::Document;
using tree::NodeId;

bool reads_rule_node(const Expr& expr);

bool steps_read_rule_node(std::span<const Step> steps) {
  for (const Step& step : steps) {
    for (const Expr& p : step.predicates) {
      if (reads_rule_node(p)) return true;
    }
  }
  return false;
}

// Whether a path marked from_rule_node stands anywhere in the expression: its
// value then differs from one rule node to the next, even where it would
// otherwise read no context.
bool reads_rule_node(const Expr& expr) {
  return std::visit(
      [](const auto& e) {
        using Kind = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<Kind, Expr::LocationPath>) {
          return e.from_rule_node || steps_read_rule_node(e.steps);
        } else if constexpr (std::is_same_v<Kind, Expr::FilterPath>) {
          for (const Expr& p : e.predicates) {
            if (reads_rule_node(p)) return true;
          }
          return reads_rule_node(*e.primary) || steps_read_rule_node(e.steps);
        } else if constexpr (std::is_same_v<Kind, Expr::FunctionCall>) {
          for (const Expr& a : e.args) {
            if (reads_rule_node(a)) return true;
          }
          return false;
        } else if constexpr (std::is_same_v<Kind, Expr::Binary> ||
                             std::is_same_v<Kind, Expr::Union>) {
          return reads_rule_node(*e.lhs) || reads_rule_node(*e.rhs);
        } else if constexpr (std::is_same_v<Kind, Expr::Negate>) {
          return reads_rule_node(*e.operand);
        } else {
          return false;
        }
      },
      expr.node);
}

void register_absolute_paths(const Expr& expr) {
  auto steps = [](std::span<const Step> steps) {
    for (const Step& step : steps) {
      for (const Expr& p : step.predicates) register_absolute_paths(p);
    }
  };
  std::visit(
      [&](const auto& e) {
        using Kind = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<Kind, Expr::LocationPath>) {
          if (e.absolute && !steps_read_rule_node(e.steps))
            memos().paths.push_back(MemoPath{&e, nullptr, {}, nullptr});
          steps(e.steps);
        } else if constexpr (std::is_same_v<Kind, Expr::FilterPath>) {
          register_absolute_paths(*e.primary);
          for (const Expr& p : e.predicates) register_absolute_paths(p);
          steps(e.steps);
        } else if constexpr (std::is_same_v<Kind, Expr::FunctionCall>) {
          for (const Expr& a : e.args) register_absolute_paths(a);
        } else if constexpr (std::is_same_v<Kind, Expr::Binary> ||
                             std::is_same_v<Kind, Expr::Union>) {
          register_absolute_paths(*e.lhs);
          register_absolute_paths(*e.rhs);
        } else if constexpr (std::is_same_v<Kind, Expr::Negate>) {
          register_absolute_paths(*e.operand);
        }
      },
      expr.node);
}

// Whether the value is the same at every context: no relative path but
// inside the predicates of a path that starts elsewhere, and no path from the
// rule node at all.
bool context_free(const Expr& expr) {
  return std::visit(
      [](const auto& e) {
        using Kind = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<Kind, Expr::LocationPath>) {
          return e.absolute && !steps_read_rule_node(e.steps);
        } else if constexpr (std::is_same_v<Kind, Expr::FilterPath>) {
          for (const Expr& p : e.predicates) {
            if (reads_rule_node(p)) return false;
          }
          return context_free(*e.primary) && !steps_read_rule_node(e.steps);
        } else if constexpr (std::is_same_v<Kind, Expr::FunctionCall>) {
          if (call_traits(e).reads_context) return false;
          for (const Expr& a : e.args) {
            if (!context_free(a)) return false;
          }
          return true;
        } else if constexpr (std::is_same_v<Kind, Expr::Binary> ||
                             std::is_same_v<Kind, Expr::Union>) {
          return context_free(*e.lhs) && context_free(*e.rhs);
        } else if constexpr (std::is_same_v<Kind, Expr::Negate>) {
          return context_free(*e.operand);
        } else {
          return true;
        }
      },
      expr.node);
}

// Gathers the absolute paths of a context-free part whose reads are known;
// false when they are not.
bool tracked_reads(const Expr& expr, std::vector<const Expr::LocationPath*>& paths) {
  return std::visit(
      [&](const auto& e) {
        using Kind = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<Kind, Expr::LocationPath>) {
          for (const Step& step : e.steps) {
            if (!step.predicates.empty()) return false;
          }
          paths.push_back(&e);
          return true;
        } else if constexpr (std::is_same_v<Kind, Expr::FilterPath>) {
          return false;
        } else if constexpr (std::is_same_v<Kind, Expr::FunctionCall>) {
          if (!call_traits(e).pure) return false;
          for (const Expr& a : e.args) {
            if (!tracked_reads(a, paths)) return false;
          }
          return true;
        } else if constexpr (std::is_same_v<Kind, Expr::Binary> ||
                             std::is_same_v<Kind, Expr::Union>) {
          return tracked_reads(*e.lhs, paths) && tracked_reads(*e.rhs, paths);
        } else if constexpr (std::is_same_v<Kind, Expr::Negate>) {
          return tracked_reads(*e.operand, paths);
        } else {
          return true;
        }
      },
      expr.node);
}

// Registers the largest context-free parts worth keeping: not a constant,
// and not a bare absolute path, which the path memo keeps.
void register_context_free(const Expr& expr) {
  const std::size_t kind = expr.node.index();
  if (kind >= 4 && context_free(expr)) {
    MemoValue m;
    m.expr = &expr;
    m.tracked = tracked_reads(expr, m.paths);
    if (!m.tracked) m.paths.clear();
    memos().values.push_back(std::move(m));
    return;
  }
  auto steps = [](std::span<const Step> steps) {
    for (const Step& step : steps) {
      for (const Expr& p : step.predicates) register_context_free(p);
    }
  };
  std::visit(
      [&](const auto& e) {
        using Kind = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<Kind, Expr::LocationPath>) {
          if (!e.absolute) steps(e.steps);
        } else if constexpr (std::is_same_v<Kind, Expr::FilterPath>) {
          register_context_free(*e.primary);
          for (const Expr& p : e.predicates) register_context_free(p);
          steps(e.steps);
        } else if constexpr (std::is_same_v<Kind, Expr::FunctionCall>) {
          for (const Expr& a : e.args) register_context_free(a);
        } else if constexpr (std::is_same_v<Kind, Expr::Binary> ||
                             std::is_same_v<Kind, Expr::Union>) {
          register_context_free(*e.lhs);
          register_context_free(*e.rhs);
        } else if constexpr (std::is_same_v<Kind, Expr::Negate>) {
          register_context_free(*e.operand);
        }
      },
      expr.node);
}

bool has_predicates(const Expr& expr) {
  auto steps = [](std::span<const Step> steps) {
    for (const Step& step : steps) {
      if (!step.predicates.empty()) return true;
    }
    return false;
  };
  return std::visit(
      [&](const auto& e) {
        using Kind = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<Kind, Expr::LocationPath>) {
          return steps(e.steps);
        } else if constexpr (std::is_same_v<Kind, Expr::FilterPath>) {
          return !e.predicates.empty() || steps(e.steps) || has_predicates(*e.primary);
        } else if constexpr (std::is_same_v<Kind, Expr::FunctionCall>) {
          for (const Expr& a : e.args) {
            if (has_predicates(a)) return true;
          }
          return false;
        } else if constexpr (std::is_same_v<Kind, Expr::Binary> ||
                             std::is_same_v<Kind, Expr::Union>) {
          return has_predicates(*e.lhs) || has_predicates(*e.rhs);
        } else if constexpr (std::is_same_v<Kind, Expr::Negate>) {
          return has_predicates(*e.operand);
        } else {
          return false;
        }
      },
      expr.node);
}

}  // namespace

namespace detail {

void PredicatePaths::add(const Expr& predicate) {
  if (!kFastPaths) return;
  if (paths_ == nullptr) {
    paths_ = &memos().paths;
    mark_ = paths_->size();
  }
  register_absolute_paths(predicate);
  end_ = paths_->size();
}

}  // namespace detail

PassMemo::PassMemo(const Expr& rule) : PassMemo(rule, 2) {}

PassMemo::PassMemo(const Expr& rule, std::size_t nodes) {
  if (!kFastPaths || (nodes < 2 && !has_predicates(rule))) return;
  paths_mark_ = memos().paths.size();
  values_mark_ = memos().values.size();
  register_absolute_paths(rule);
  register_context_free(rule);
  paths_end_ = memos().paths.size();
  values_end_ = memos().values.size();
}

PassMemo::~PassMemo() {
  if (paths_mark_ == kNothing) return;
  // Last in, first out: a memo made after this one and still alive would
  // lose its registrations, and one gone already has left its place.
  TOVARN_CHECK(memos().paths.size() == paths_end_ && memos().values.size() == values_end_);
  memos().paths.resize(paths_mark_);
  memos().values.resize(values_mark_);
}

void PassMemo::written(const Document& doc, NodeId node) {
  // Nodes a path without predicates selects depend on names alone; its
  // texts may have changed.
  if (paths_mark_ == kNothing) return;
  std::vector<MemoPath>& paths = memos().paths;
  for (std::size_t i = paths_mark_; i < paths.size(); ++i) {
    MemoPath& m = paths[i];
    if (m.doc != &doc) continue;
    m.texts.reset();
    const bool plain = std::all_of(m.path->steps.begin(), m.path->steps.end(),
                                   [](const Step& s) { return s.predicates.empty(); });
    if (!plain) {
      m.doc = nullptr;
      m.nodes.clear();
    }
  }
  const std::uint32_t at = doc.order_position(node);
  std::vector<MemoValue>& values = memos().values;
  for (std::size_t i = values_mark_; i < values.size(); ++i) {
    MemoValue& m = values[i];
    if (m.doc != &doc) continue;
    if (m.reads_known && at != Document::kUnindexed) {
      auto after = std::upper_bound(
          m.reads.begin(), m.reads.end(), at,
          [](std::uint32_t p, const std::pair<std::uint32_t, std::uint32_t>& r) {
            return p < r.first;
          });
      if (after == m.reads.begin() || std::prev(after)->second < at) continue;
    }
    m.doc = nullptr;
    m.value.reset();
    m.reads.clear();
    m.reads_known = false;
  }
}

}  // namespace tovarn::xpath
