#include "xpath/detail/dump.h"

#include <array>
#include <charconv>

#include "xpath/quote.h"

namespace tovarn::xpath::detail {

namespace {

std::string_view axis_name(Axis axis) {
  static constexpr std::array<std::string_view, 12> kNames = {
      "child",
      "parent",
      "self",
      "descendant",
      "descendant-or-self",
      "ancestor",
      "ancestor-or-self",
      "attribute",
      "following",
      "following-sibling",
      "preceding",
      "preceding-sibling",
  };
  return kNames[static_cast<std::size_t>(axis)];
}

// node() prints as "*": in this tree the two admit the same nodes.
std::string_view node_type_test(NodeType type) {
  static constexpr std::array<std::string_view, 4> kTests = {
      "*", "text()", "comment()", "processing-instruction()",
  };
  return kTests[static_cast<std::size_t>(type)];
}

std::string_view binary_op_name(BinaryOp op) {
  static constexpr std::array<std::string_view, 13> kNames = {
      "or", "and", "eq", "ne", "lt", "le", "gt", "ge", "add", "sub", "mul", "div", "mod",
  };
  return kNames[static_cast<std::size_t>(op)];
}

void dump_to(std::string& out, const Expr& expr);

void dump_predicates(std::string& out, std::span<const Expr> predicates) {
  for (const Expr& predicate : predicates) {
    out += '[';
    dump_to(out, predicate);
    out += ']';
  }
}

void dump_steps(std::string& out, std::span<const Step> steps, bool leading_space) {
  for (const Step& step : steps) {
    if (leading_space) out += ' ';
    leading_space = true;
    out += axis_name(step.axis);
    out += ':';
    if (step.name_test) {
      out += *step.name_test;
    } else {
      out += node_type_test(step.type);
    }
    dump_predicates(out, step.predicates);
  }
}

void dump_pair(std::string& out, std::string_view name, const Expr& lhs, const Expr& rhs) {
  out += name;
  out += '{';
  dump_to(out, lhs);
  out += ' ';
  dump_to(out, rhs);
  out += '}';
}

[[gnu::noinline]] void dump_number(std::string& out, double value) {
  char buf[32];
  const auto end = std::to_chars(buf, buf + sizeof buf, value).ptr;
  out += "num{";
  out.append(buf, end);
  out += '}';
}

[[gnu::noinline]] void dump_text(std::string& out, std::string_view kind, std::string_view text) {
  out += kind;
  out += '{';
  out += text;
  out += '}';
}

// Recursion is bounded by the parser's depth limit; each kind dumps in its
// own small frame.
void dump_to(std::string& out, const Expr& expr) {
  switch (expr.node.index()) {
    case 0: dump_number(out, std::get<Expr::Number>(expr.node).value); return;
    case 1: dump_text(out, "lit", quote_text(std::get<Expr::Literal>(expr.node).text)); return;
    case 2: dump_text(out, "var", std::get<Expr::Variable>(expr.node).name); return;
    case 3: {
      const auto& path = std::get<Expr::LocationPath>(expr.node);
      out += path.absolute ? "abs{" : path.from_rule_node ? "node{" : "path{";
      dump_steps(out, path.steps, false);
      out += '}';
      return;
    }
    case 4: {
      const auto& filter = std::get<Expr::FilterPath>(expr.node);
      out += "filter{";
      dump_to(out, *filter.primary);
      dump_predicates(out, filter.predicates);
      dump_steps(out, filter.steps, true);
      out += '}';
      return;
    }
    case 5: {
      const auto& call = std::get<Expr::FunctionCall>(expr.node);
      out += "call{";
      out += call.name;
      for (const Expr& arg : call.args) {
        out += ' ';
        dump_to(out, arg);
      }
      out += '}';
      return;
    }
    case 6: {
      const auto& binary = std::get<Expr::Binary>(expr.node);
      dump_pair(out, binary_op_name(binary.op), *binary.lhs, *binary.rhs);
      return;
    }
    case 7:
      out += "neg{";
      dump_to(out, *std::get<Expr::Negate>(expr.node).operand);
      out += '}';
      return;
    case 8: {
      const auto& u = std::get<Expr::Union>(expr.node);
      dump_pair(out, "union", *u.lhs, *u.rhs);
      return;
    }
  }
}

}  // namespace

std::string dump(const Expr& expr) {
  std::string out;
  dump_to(out, expr);
  return out;
}

}  // namespace tovarn::xpath::detail
