#include "form/paths.h"

#include <string>
#include <variant>
#include <vector>

#include "form/detail/for_each_path_read.h"

namespace tovarn::form {
namespace {

using xpath::Axis;
using xpath::Expr;
using xpath::Step;

// Recursion follows the expression tree, whose depth the parser bounds.
class PathWalker {
 public:
  PathWalker(std::string_view base, const std::function<void(std::string_view)>& visit,
             std::vector<std::string_view>& segments, std::string& buffer)
      : base_(base), visit_(visit), segments_(segments), buffer_(buffer) {}

  void walk(const Expr& expr) {
    std::visit([this](const auto& node) { on(node); }, expr.node);
  }

 private:
  void on(const Expr::Number&) {}
  void on(const Expr::Literal&) {}
  void on(const Expr::Variable&) {}
  void on(const Expr::LocationPath& path) {
    resolve(path);
    walk_step_predicates(path.steps);
  }
  void on(const Expr::FilterPath& path) {
    walk(*path.primary);
    for (const Expr& predicate : path.predicates) walk(predicate);
    walk_step_predicates(path.steps);
  }
  void on(const Expr::FunctionCall& call) {
    for (const Expr& arg : call.args) walk(arg);
  }
  void on(const Expr::Binary& binary) {
    walk(*binary.lhs);
    walk(*binary.rhs);
  }
  void on(const Expr::Negate& negate) { walk(*negate.operand); }
  void on(const Expr::Union& u) {
    walk(*u.lhs);
    walk(*u.rhs);
  }

  void walk_step_predicates(std::span<const Step> steps) {
    for (const Step& step : steps)
      for (const Expr& predicate : step.predicates) walk(predicate);
  }

  // The segments of a relative path start from the base's pieces after its
  // first '/', so "/data/q" gives data, q and "data/q" gives q alone.
  void resolve(const Expr::LocationPath& path) {
    std::vector<std::string_view>& segments = segments_;
    segments.clear();
    if (!path.absolute) {
      std::string_view rest = base_;
      std::size_t slash = rest.find('/');
      while (slash != std::string_view::npos) {
        rest.remove_prefix(slash + 1);
        slash = rest.find('/');
        segments.push_back(rest.substr(0, slash));
      }
    }
    for (const Step& step : path.steps) {
      switch (step.axis) {
        case Axis::child:
          if (!step.name_test) return;
          segments.push_back(*step.name_test);
          break;
        case Axis::parent:
          if (segments.empty()) return;
          segments.pop_back();
          break;
        case Axis::self:
          break;
        default:
          return;
      }
    }
    if (segments.empty()) return;
    buffer_.clear();
    for (std::string_view segment : segments) {
      buffer_ += '/';
      buffer_ += segment;
    }
    visit_(buffer_);
  }

  std::string_view base_;
  const std::function<void(std::string_view)>& visit_;
  // Reused across paths; resolving never nests.
  std::vector<std::string_view>& segments_;
  std::string& buffer_;
};

}  // namespace

namespace detail {
void for_each_path_read(const xpath::Expr& expr, std::string_view base,
                        const std::function<void(std::string_view)>& visit) {
  PathReads().for_each(expr, base, visit);
}

void PathReads::for_each(const xpath::Expr& expr, std::string_view base,
                         const std::function<void(std::string_view)>& visit) {
  PathWalker(base, visit, segments_, buffer_).walk(expr);
}
}  // namespace detail

std::vector<std::string> paths_read(const xpath::Expr& expr, std::string_view base) {
  std::vector<std::string> out;
  detail::for_each_path_read(expr, base,
                             [&out](std::string_view path) { out.emplace_back(path); });
  return out;
}

}  // namespace tovarn::form
