#include "compat/detail/instance_paths.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <type_traits>
#include <unordered_set>
#include <utility>
#include <variant>

#include "compat/detail/messages.h"
#include "form/paths.h"

namespace tovarn::compat::detail {
namespace {

using xpath::Expr;
using xpath::Step;

// The path that a location path names itself, its predicates left out.
std::optional<std::string> own_path(const Expr::LocationPath& path, std::string_view bind_path) {
  Expr::LocationPath bare{path.absolute, {}};
  bare.steps.reserve(path.steps.size());
  for (const Step& step : path.steps) bare.steps.push_back(Step{step.axis, step.name_test, {}});
  std::vector<std::string> read = form::paths_read(Expr{std::move(bare)}, bind_path);
  if (read.empty()) return std::nullopt;
  return std::move(read.front());
}

// Location paths with the same steps, predicates aside, resolve alike.
struct StepsHash {
  std::size_t operator()(const Expr::LocationPath* path) const {
    std::size_t h = path->absolute;
    for (const Step& step : path->steps) {
      h = h * 31 + static_cast<std::size_t>(step.axis);
      if (step.name_test) h = h * 31 + std::hash<std::string_view>{}(*step.name_test);
    }
    return h;
  }
};
struct SameSteps {
  bool operator()(const Expr::LocationPath* a, const Expr::LocationPath* b) const {
    return a->absolute == b->absolute &&
           std::ranges::equal(a->steps, b->steps, [](const Step& x, const Step& y) {
             return x.axis == y.axis && x.name_test == y.name_test;
           });
  }
};

void push_step_predicates(const std::vector<Step>& steps,
                          std::vector<std::pair<const Expr*, bool>>& stack) {
  for (auto step = steps.rbegin(); step != steps.rend(); ++step)
    for (auto it = step->predicates.rbegin(); it != step->predicates.rend(); ++it)
      stack.emplace_back(&*it, false);
}

std::string_view first_step(std::string_view path) {
  const std::size_t slash = path.find('/');
  if (slash == std::string_view::npos) return {};
  const std::string_view rest = path.substr(slash + 1);
  return rest.substr(0, rest.find('/'));
}

bool is_instance_path(std::string_view path, const KnownPaths& known_paths) {
  // An attribute step or a trailing "/" may come from the bind's path, whose
  // segments a relative path keeps as written.
  std::string_view element = path.substr(0, path.find('@'));
  while (element.ends_with('/')) element.remove_suffix(1);
  return known_paths.contains(element);
}

std::optional<std::string> suggestion_for(std::string_view path, std::string_view step,
                                          const KnownPaths& known_paths) {
  const std::string_view last = path.substr(path.rfind('/') + 1);
  if (auto only = known_paths.only_path_ending_with(last)) return only;
  if (known_paths.root_name() != step) return other_root_suggestion(known_paths.root_name(), step);
  return std::nullopt;
}

}  // namespace

void absolute_paths_read(const Expr& expr, std::string_view bind_path, bool top_level,
                         std::vector<std::string>& paths) {
  // Resolving costs the bind path's length, so a path met again is not
  // resolved again: it could only repeat a path already in the list.
  std::unordered_set<const Expr::LocationPath*, StepsHash, SameSteps> resolved;
  std::vector<std::pair<const Expr*, bool>> stack{{&expr, top_level}};
  while (!stack.empty()) {
    const auto [node, top] = stack.back();
    stack.pop_back();
    std::visit(
        [&, top = top](const auto& n) {
          using T = std::decay_t<decltype(n)>;
          if constexpr (std::is_same_v<T, Expr::LocationPath>) {
            if ((top || n.absolute) && resolved.insert(&n).second) {
              if (auto path = own_path(n, bind_path)) paths.push_back(std::move(*path));
            }
            push_step_predicates(n.steps, stack);
          } else if constexpr (std::is_same_v<T, Expr::FilterPath>) {
            push_step_predicates(n.steps, stack);
            for (auto it = n.predicates.rbegin(); it != n.predicates.rend(); ++it)
              stack.emplace_back(&*it, false);
            stack.emplace_back(n.primary.get(), false);
          } else if constexpr (std::is_same_v<T, Expr::FunctionCall>) {
            for (auto it = n.args.rbegin(); it != n.args.rend(); ++it)
              stack.emplace_back(&*it, top);
          } else if constexpr (std::is_same_v<T, Expr::Binary> || std::is_same_v<T, Expr::Union>) {
            stack.emplace_back(n.rhs.get(), top);
            stack.emplace_back(n.lhs.get(), top);
          } else if constexpr (std::is_same_v<T, Expr::Negate>) {
            stack.emplace_back(n.operand.get(), top);
          }
        },
        node->node);
  }
}

void check_instance_paths(const Expr& expr, std::string_view bind_path,
                          const KnownPaths& known_paths, const SecondaryIds& secondary_ids,
                          std::vector<CompatIssue>& issues) {
  std::vector<std::string> paths;
  absolute_paths_read(expr, bind_path, true, paths);
  std::unordered_set<std::string_view> examined;
  for (const std::string& path : paths) {
    if (!examined.insert(path).second) continue;
    if (is_instance_path(path, known_paths)) continue;
    const std::string_view step = first_step(path);
    if (secondary_ids.contains(step)) continue;
    issues.push_back(missing_instance_path(path, suggestion_for(path, step, known_paths)));
  }
}

}  // namespace tovarn::compat::detail
