#include "compat/detail/instance_paths.h"

#include <functional>
#include <optional>
#include <span>
#include <type_traits>
#include <utility>
#include <variant>

#include "compat/detail/messages.h"

namespace tovarn::compat::detail {
namespace {

using xpath::Axis;
using xpath::Expr;
using xpath::Step;
using PathId = KnownPaths::PathId;

// A path read: the bind path's first `kept` segments, then `names`. `kept`
// runs as far as the two agree, so equal paths have equal records.
struct PathRead {
  std::size_t kept = 0;
  std::vector<std::string_view> names;
  bool operator==(const PathRead&) const = default;
};

struct PathReadHash {
  std::size_t operator()(const PathRead& read) const {
    std::size_t h = read.kept;
    for (const std::string_view name : read.names)
      h = h * 0x100000001b3u ^ std::hash<std::string_view>{}(name);
    return h;
  }
};

// The bind path cut into the segments that a relative path starts from, with
// what the check needs of each of its prefixes worked out once: a rule may
// read many paths below a long bind path, and each must cost only its own
// steps, not the bind path's length.
class BindPath {
 public:
  BindPath(std::string_view text, const KnownPaths& known) : known_(known) {
    // The piece before the first '/' is dropped; every other piece stays,
    // an empty one too.
    for (std::size_t slash = text.find('/'); slash != std::string_view::npos;
         slash = text.find('/')) {
      text.remove_prefix(slash + 1);
      segments_.push_back(text.substr(0, text.find('/')));
    }
    entries_.reserve(segments_.size() + 1);
    unblank_.reserve(segments_.size() + 1);
    entries_.push_back(KnownPaths::kTop);
    unblank_.push_back(0);
    first_at_ = segments_.size();
    for (std::size_t i = 0; i < segments_.size(); ++i) {
      const std::string_view segment = segments_[i];
      const std::optional<PathId> parent = entries_.back();
      entries_.push_back(parent ? known.child(*parent, segment) : std::nullopt);
      unblank_.push_back(segment.empty() ? unblank_.back() : i + 1);
      if (first_at_ == segments_.size() && segment.find('@') != std::string_view::npos)
        first_at_ = i;
    }
  }

  // The path that the location path names itself, predicates aside: none
  // for a step the resolution cannot follow or a path above the first
  // segment.
  std::optional<PathRead> resolve(const Expr::LocationPath& path) const {
    PathRead read{path.absolute ? 0 : segments_.size(), {}};
    for (const Step& step : path.steps) {
      switch (step.axis) {
        case Axis::child:
          if (!step.name_test) return std::nullopt;
          read.names.push_back(*step.name_test);
          break;
        case Axis::parent:
          if (!read.names.empty()) {
            read.names.pop_back();
          } else if (read.kept > 0) {
            --read.kept;
          } else {
            return std::nullopt;
          }
          break;
        case Axis::self:
          break;
        default:
          return std::nullopt;
      }
    }
    if (read.kept == 0 && read.names.empty()) return std::nullopt;
    std::size_t agree = 0;
    while (agree < read.names.size() && read.kept < segments_.size() &&
           read.names[agree] == segments_[read.kept]) {
      ++agree;
      ++read.kept;
    }
    read.names.erase(read.names.begin(), read.names.begin() + static_cast<std::ptrdiff_t>(agree));
    return read;
  }

  std::string text(const PathRead& read) const {
    std::string path;
    for (std::size_t i = 0; i < read.kept; ++i) {
      path += '/';
      path += segments_[i];
    }
    for (const std::string_view name : read.names) {
      path += '/';
      path += name;
    }
    return path;
  }

  std::string_view first_step(const PathRead& read) const {
    return read.kept > 0 ? segments_.front() : read.names.front();
  }

  std::string_view last_segment(const PathRead& read) const {
    return read.names.empty() ? segments_[read.kept - 1] : read.names.back();
  }

  // Whether the path up to its first "@", less its trailing "/", names an
  // element of the instance. The "@" and empty segments come from the bind
  // path, whose segments a relative path keeps as written.
  bool names_instance_element(const PathRead& read) const {
    if (first_at_ < read.kept) return names_element(first_at_, {}, before_at(segments_[first_at_]));
    for (std::size_t i = 0; i < read.names.size(); ++i) {
      if (read.names[i].find('@') != std::string_view::npos)
        return names_element(read.kept, std::span(read.names).first(i), before_at(read.names[i]));
    }
    return names_element(read.kept, read.names, {});
  }

 private:
  static std::string_view before_at(std::string_view segment) {
    return segment.substr(0, segment.find('@'));
  }

  // The bind path's first `kept` segments, then `names`, then `last`.
  bool names_element(std::size_t kept, std::span<const std::string_view> names,
                     std::string_view last) const {
    if (last.empty()) {
      while (!names.empty() && names.back().empty()) names = names.first(names.size() - 1);
      if (names.empty()) return unblank_[kept] > 0 && entries_[unblank_[kept]].has_value();
    }
    std::optional<PathId> entry = entries_[kept];
    for (const std::string_view name : names) {
      if (!entry) return false;
      entry = known_.child(*entry, name);
    }
    if (entry && !last.empty()) entry = known_.child(*entry, last);
    return entry.has_value();
  }

  const KnownPaths& known_;
  std::vector<std::string_view> segments_;
  // entries_[k]: the instance path that the first k segments name, if any.
  std::vector<std::optional<PathId>> entries_;
  // unblank_[k]: k less the empty segments that end the first k.
  std::vector<std::size_t> unblank_;
  // The first segment that holds an "@", or the number of segments.
  std::size_t first_at_ = 0;
};

void push_step_predicates(std::span<const Step> steps,
                          std::vector<std::pair<const Expr*, bool>>& stack) {
  for (auto step = steps.rbegin(); step != steps.rend(); ++step)
    for (auto it = step->predicates.rbegin(); it != step->predicates.rend(); ++it)
      stack.emplace_back(&*it, false);
}

std::optional<std::string> suggestion_for(std::string_view last, std::string_view step,
                                          const KnownPaths& known_paths) {
  if (auto only = known_paths.only_path_ending_with(last)) return only;
  if (known_paths.root_name() != step) return other_root_suggestion(known_paths.root_name(), step);
  return std::nullopt;
}

// The location paths whose paths the rule reads, in the order met: absolute
// ones wherever they stand, relative ones only where `top_level` holds (not
// inside a predicate or a filter expression). Iterative.
void absolute_paths_read(const Expr& expr, bool top_level,
                         std::vector<const Expr::LocationPath*>& paths) {
  std::vector<std::pair<const Expr*, bool>> stack{{&expr, top_level}};
  while (!stack.empty()) {
    const auto [node, top] = stack.back();
    stack.pop_back();
    std::visit(
        [&, top = top](const auto& n) {
          using T = std::decay_t<decltype(n)>;
          if constexpr (std::is_same_v<T, Expr::LocationPath>) {
            if (top || n.absolute) paths.push_back(&n);
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

}  // namespace

void check_instance_paths(const Expr& expr, std::string_view bind_path,
                          const KnownPaths& known_paths, const SecondaryIds& secondary_ids,
                          std::vector<CompatIssue>& issues) {
  std::vector<const Expr::LocationPath*> collected;
  absolute_paths_read(expr, true, collected);
  const BindPath base(bind_path, known_paths);
  std::unordered_set<PathRead, PathReadHash> examined;
  for (const Expr::LocationPath* path : collected) {
    std::optional<PathRead> read = base.resolve(*path);
    if (!read) continue;
    const auto [at, fresh] = examined.insert(std::move(*read));
    if (!fresh || base.names_instance_element(*at)) continue;
    const std::string_view step = base.first_step(*at);
    if (secondary_ids.contains(step)) continue;
    issues.push_back(missing_instance_path(
        base.text(*at), suggestion_for(base.last_segment(*at), step, known_paths)));
  }
}

}  // namespace tovarn::compat::detail
