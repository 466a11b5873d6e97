#include "xpath/detail/dump.h"

#include <array>
#include <charconv>

#include "xpath/quote.h"

namespace tovarn::xpath::detail {

namespace {

void dump_to(std::string& out, const Expr& expr);

void dump_predicates(std::string& out, const std::vector<Expr>& predicates) {
  for (const Expr& predicate : predicates) {
    out += '[';
    dump_to(out, predicate);
    out += ']';
  }
}

void dump_steps(std::string& out, const std::vector<Step>& steps, bool leading_space) {
  for (const Step& step : steps) {
    if (leading_space) out += ' ';
    leading_space = true;
    out += axis_name(step.axis);
    out += ':';
    if (step.name_test) {
      out += *step.name_test;
    } else {
      out += '*';
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

// Recursion is bounded by the parser's depth limit.
void dump_to(std::string& out, const Expr& expr) {
  struct Visitor {
    std::string& out;
    void operator()(const Expr::Number& n) {
      char buf[32];
      const auto end = std::to_chars(buf, buf + sizeof buf, n.value).ptr;
      out += "num{";
      out.append(buf, end);
      out += '}';
    }
    void operator()(const Expr::Literal& l) {
      out += "lit{";
      out += quote_text(l.text);
      out += '}';
    }
    void operator()(const Expr::Variable& v) {
      out += "var{";
      out += v.name;
      out += '}';
    }
    void operator()(const Expr::LocationPath& p) {
      out += p.absolute ? "abs{" : "path{";
      dump_steps(out, p.steps, false);
      out += '}';
    }
    void operator()(const Expr::FilterPath& f) {
      out += "filter{";
      dump_to(out, *f.primary);
      dump_predicates(out, f.predicates);
      dump_steps(out, f.steps, true);
      out += '}';
    }
    void operator()(const Expr::FunctionCall& c) {
      out += "call{";
      out += c.name;
      for (const Expr& arg : c.args) {
        out += ' ';
        dump_to(out, arg);
      }
      out += '}';
    }
    void operator()(const Expr::Binary& b) { dump_pair(out, binary_op_name(b.op), *b.lhs, *b.rhs); }
    void operator()(const Expr::Negate& n) {
      out += "neg{";
      dump_to(out, *n.operand);
      out += '}';
    }
    void operator()(const Expr::Union& u) { dump_pair(out, "union", *u.lhs, *u.rhs); }
  };
  std::visit(Visitor{out}, expr.node);
}

}  // namespace

std::string_view axis_name(Axis axis) {
  static constexpr std::array<std::string_view, 12> kNames = {
      "child",     "parent",    "self",
      "descendant", "descendant-or-self", "ancestor",
      "ancestor-or-self", "attribute", "following",
      "following-sibling", "preceding", "preceding-sibling",
  };
  return kNames[static_cast<std::size_t>(axis)];
}

std::string_view binary_op_name(BinaryOp op) {
  static constexpr std::array<std::string_view, 13> kNames = {
      "or", "and", "eq", "ne", "lt", "le", "gt", "ge", "add", "sub", "mul", "div", "mod",
  };
  return kNames[static_cast<std::size_t>(op)];
}

std::string dump(const Expr& expr) {
  std::string out;
  dump_to(out, expr);
  return out;
}

}  // namespace tovarn::xpath::detail
