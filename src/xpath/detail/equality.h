#pragma once
// `=` and `!=`, stated once. compare_equal, the texts a pass gathers
// (NodeTexts) and the walked comparison all decide through these; their
// indexes and shortcuts only find sooner which texts pass.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <variant>

#include "xpath/value.h"

namespace tovarn::xpath::detail {

// A short text held for comparing texts of its size with it: names and
// answers are mostly short, and two loads of a word each settle them where a
// loop or the call into memcmp would cost more than the visit of the node.
class ShortText {
 public:
  ShortText() = default;
  explicit ShortText(std::string_view text) : data_(text.data()), size_(text.size()) {
    width_ = size_ >= 8 ? 8 : size_ >= 4 ? 4 : size_ >= 2 ? 2 : 0;
    if (size_ > 16) width_ = 0;
    if (width_ != 0) {
      head_ = load(data_, width_);
      tail_ = load(data_ + size_ - width_, width_);
    }
  }
  // Whether the size() bytes at `p` are the text's. The head and tail words
  // overlap where the text is shorter than two of them.
  bool same(const char* p) const {
    switch (width_) {
      case 2:
        return load(p, 2) == head_ && load(p + size_ - 2, 2) == tail_;
      case 4:
        return load(p, 4) == head_ && load(p + size_ - 4, 4) == tail_;
      case 8:
        return load(p, 8) == head_ && load(p + size_ - 8, 8) == tail_;
      default:
        if (size_ == 0) return true;
        if (size_ == 1) return *p == *data_;
        return std::memcmp(p, data_, size_) == 0;
    }
  }
  bool same(std::string_view text) const { return text.size() == size_ && same(text.data()); }
  std::string_view view() const { return {data_, size_}; }

 private:
  [[gnu::always_inline]] static std::uint64_t load(const char* p, std::size_t width) {
    if (width == 2) {
      std::uint16_t v;
      std::memcpy(&v, p, 2);
      return v;
    }
    if (width == 4) {
      std::uint32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
  }

  const char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t width_ = 0;  // of the head and tail words; 0 for none
  std::uint64_t head_ = 0;
  std::uint64_t tail_ = 0;
};

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
  NodeTest(bool eq, std::string_view text) : eq_(eq), text_(text) {}
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
  Kind kind_ = Kind::text;
  bool eq_ = true;
  bool when_nodes_ = false;
  double number_ = 0;
  ShortText text_;
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
