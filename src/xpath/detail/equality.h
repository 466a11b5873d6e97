#pragma once
// `=` and `!=`, stated once. compare_equal, the texts a pass gathers
// (NodeTexts) and the walked comparison all decide through these; their
// indexes and shortcuts only find sooner which texts pass.

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "tree/name_hash.h"
#include "xpath/value.h"

namespace tovarn::xpath::detail {

using tree::ShortText;

// Two numbers: NaN equals nothing, so it differs from everything.
inline bool numbers_compare(bool eq, double a, double b) { return (a == b) == eq; }

// A node-set compared with one value that is no node-set holds when some node
// of the set passes this test: its text read as a number against a number,
// its text against a string. Against a boolean only whether the set has a
// node counts, and the comparison holds exactly when that is when_nodes().
// A node-set of one node compares as its text. Holds a view of the text.
class NodeTest {
 public:
  enum class Kind : std::uint8_t { presence, number, text };

  NodeTest(bool eq, const Value& other) : eq_(eq) {
    switch (other.index()) {
      case 0:
        kind_ = Kind::presence;
        when_nodes_ = std::get<bool>(other) == eq;
        break;
      case 1:
        kind_ = Kind::number;
        number_ = std::get<double>(other);
        break;
      default:
        text_ = ShortText(std::get<std::string>(other));
        break;
    }
  }
  NodeTest(bool eq, std::string_view text) : text_(text), eq_(eq) {}
  NodeTest(bool eq, const std::string& text) : NodeTest(eq, std::string_view(text)) {}
  NodeTest(bool eq, Value&& other) = delete;  // it would hold a view of a temporary

  Kind kind() const { return kind_; }
  bool eq() const { return eq_; }
  bool when_nodes() const { return when_nodes_; }
  double number() const { return number_; }
  std::string_view text() const { return text_.view(); }

  bool passes_number(double n) const { return numbers_compare(eq_, n, number_); }
  // Texts compare byte for byte.
  bool passes_text(std::string_view t) const { return text_.same(t) == eq_; }
  bool passes(std::string_view node_text) const {
    return kind_ == Kind::number ? passes_number(string_to_number(node_text))
                                 : passes_text(node_text);
  }

 private:
  // The text first: the walked comparison reads it at the start of its hit.
  ShortText text_;
  bool eq_ = true;
  Kind kind_ = Kind::text;
  bool when_nodes_ = false;
  double number_ = 0;
};

// Two values that are no node-sets: as booleans when either is one, else as
// numbers when either is one, else as strings.
inline bool scalars_compare(bool eq, const Value& lhs, const Value& rhs) {
  if (lhs.index() == 0 || rhs.index() == 0) {
    return (value_to_boolean(lhs) == value_to_boolean(rhs)) == eq;
  }
  if (lhs.index() == 1 || rhs.index() == 1) {
    return numbers_compare(eq, value_to_number(lhs), value_to_number(rhs));
  }
  return NodeTest(eq, std::get<std::string>(rhs)).passes_text(std::get<std::string>(lhs));
}

}  // namespace tovarn::xpath::detail
