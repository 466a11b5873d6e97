#include "xpath/value.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <system_error>

#include "tree/fast_paths.h"
#include "tree/query.h"
#include "unicode/unicode.h"
#include "xpath/detail/equality.h"
#include "xpath/detail/eval_messages.h"
#include "xpath/detail/node_texts.h"
#include "xpath/detail/date_text.h"

namespace tovarn::xpath {

namespace {

using detail::NodeTest;
using detail::NodeTexts;
using detail::scalars_compare;
using tree::Document;
using tree::NodeId;

// A node's string value without a copy when it is a leaf (an attribute, or an
// element without children): the common case of every comparison.
std::string_view node_string(const Document& doc, NodeId id, std::string& scratch) {
  if (!doc.has_children(id)) return doc.text(id);
  scratch.clear();
  tree::append_string_value(doc, id, scratch);
  return scratch;
}

// Visits the string value of every readable node of a node-set in list order
// until `fn` answers true; answers whether it did.
template <typename Fn>
bool any_node_string(const NodeSet& set, Fn&& fn) {
  if (set.document == nullptr) return false;
  const Document& doc = *set.document;
  std::string scratch;
  for (NodeId id : set.ids) {
    if (!doc.contains(id)) continue;
    if (fn(node_string(doc, id, scratch))) return true;
  }
  return false;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Up to this many nodes on the smaller side, scanning the larger side once per
// node is cheaper than hashing.
constexpr std::size_t kScanLimit = 8;

// `!=` between node-sets: some pair of texts differs, which fails only when
// a side is empty or every text on both sides is one and the same.
bool sets_differ(const NodeSet& left, const NodeSet& right) {
  std::optional<std::string> first;
  bool uniform = true;
  any_node_string(right, [&](std::string_view s) {
    if (!first) {
      first.emplace(s);
    } else if (NodeTest(false, *first).passes_text(s)) {
      uniform = false;
    }
    return !uniform;
  });
  if (!first) return false;
  const NodeTest differs(false, *first);
  return any_node_string(left,
                         [&](std::string_view s) { return !uniform || differs.passes_text(s); });
}

bool equals_ignoring_ascii_case(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

// Whether the unsigned numeral's decimal value is at least 1 in magnitude,
// decided from the place of its first significant digit and its exponent. Only
// asked after the conversion overflowed or underflowed, where the answer tells
// the two apart.
bool numeral_magnitude_at_least_one(std::string_view numeral) {
  std::size_t i = 0;
  std::int64_t place = 0;  // decimal exponent of the first significant digit
  bool seen_point = false;
  bool seen_significant = false;
  std::int64_t integer_digits = 0;
  std::int64_t leading_fraction_zeros = 0;
  for (; i < numeral.size() && numeral[i] != 'e' && numeral[i] != 'E'; ++i) {
    char c = numeral[i];
    if (c == '.') {
      seen_point = true;
      continue;
    }
    if (!seen_point) {
      if (seen_significant || c != '0') {
        seen_significant = true;
        ++integer_digits;
      }
    } else if (!seen_significant) {
      if (c == '0') {
        ++leading_fraction_zeros;
      } else {
        seen_significant = true;
      }
    }
  }
  if (!seen_significant) return false;
  place = integer_digits > 0 ? integer_digits - 1 : -(leading_fraction_zeros + 1);

  std::int64_t exponent = 0;
  if (i < numeral.size()) {
    ++i;
    bool negative = false;
    if (numeral[i] == '+' || numeral[i] == '-') negative = numeral[i++] == '-';
    constexpr std::int64_t kCap = std::int64_t{1} << 40;  // far beyond any float
    for (; i < numeral.size(); ++i) {
      exponent = std::min(kCap, exponent * 10 + (numeral[i] - '0'));
    }
    if (negative) exponent = -exponent;
  }
  return place + exponent >= 0;
}

// Whether the text is an unsigned decimal numeral: digits with at most one
// point and a digit on at least one side, then an optional exponent.
bool is_numeral(std::string_view t) {
  std::size_t i = 0;
  std::size_t digits = 0;
  while (i < t.size() && is_digit(t[i])) ++i, ++digits;
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && is_digit(t[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    std::size_t exponent_digits = 0;
    while (i < t.size() && is_digit(t[i])) ++i, ++exponent_digits;
    if (exponent_digits == 0) return false;
  }
  return i == t.size();
}

}  // namespace

bool is_number_text(std::string_view text) {
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) text.remove_prefix(1);
  return equals_ignoring_ascii_case(text, "inf") || equals_ignoring_ascii_case(text, "infinity") ||
         equals_ignoring_ascii_case(text, "nan") || is_numeral(text);
}

bool value_to_boolean(const Value& value) {
  switch (value.index()) {
    case 0:
      return std::get<bool>(value);
    case 1: {
      double d = std::get<double>(value);
      return d != 0 && !std::isnan(d);
    }
    case 2:
      return !std::get<std::string>(value).empty();
    default:
      return !std::get<NodeSet>(value).ids.empty();
  }
}

std::string value_to_string(const Value& value) {
  switch (value.index()) {
    case 0:
      return std::get<bool>(value) ? "true" : "false";
    case 1:
      return format_number(std::get<double>(value));
    case 2:
      return std::get<std::string>(value);
    default: {
      const NodeSet& set = std::get<NodeSet>(value);
      if (set.ids.empty() || set.document == nullptr || !set.document->contains(set.ids.front())) {
        return {};
      }
      return tree::string_value(*set.document, set.ids.front());
    }
  }
}

double value_to_number(const Value& value) {
  switch (value.index()) {
    case 0:
      return std::get<bool>(value) ? 1.0 : 0.0;
    case 1:
      return std::get<double>(value);
    case 2:
      return string_to_number(std::get<std::string>(value));
    default: {
      const NodeSet& set = std::get<NodeSet>(value);
      if (set.ids.empty() || set.document == nullptr || !set.document->contains(set.ids.front())) {
        return std::numeric_limits<double>::quiet_NaN();
      }
      std::string scratch;
      return string_to_number(node_string(*set.document, set.ids.front(), scratch));
    }
  }
}

std::string format_number(double number) {
  if (std::isnan(number)) return "NaN";
  if (std::isinf(number)) return number > 0 ? "Infinity" : "-Infinity";
  if (number == 0) return "0";  // negative zero too

  char buf[40];
  if (std::trunc(number) == number && std::fabs(number) < 1e21) {
    // Fixed notation with no fraction digits is the float's exact integer.
    auto r = std::to_chars(buf, buf + sizeof buf, number, std::chars_format::fixed, 0);
    return std::string(buf, r.ptr);
  }

  // The shortest round-trip digits in scientific form, "-d.ddde-7", laid out
  // positionally. Fixed notation would print exact digits for large integral
  // values, which are not the shortest.
  auto r = std::to_chars(buf, buf + sizeof buf, number, std::chars_format::scientific);
  std::string_view sci(buf, static_cast<std::size_t>(r.ptr - buf));
  std::size_t e = sci.find('e');
  std::string digits;
  for (char c : sci.substr(0, e)) {
    if (is_digit(c)) digits += c;
  }
  int exponent = 0;
  std::string_view exp_text = sci.substr(e + 1);
  if (exp_text.front() == '+') exp_text.remove_prefix(1);
  std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exponent);

  std::string out;
  if (number < 0) out += '-';
  const long point = long{exponent} + 1;  // digits before the decimal point
  const long n = static_cast<long>(digits.size());
  if (point <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-point), '0');
    out += digits;
  } else if (point >= n) {
    out += digits;
    out.append(static_cast<std::size_t>(point - n), '0');
  } else {
    out.append(digits, 0, static_cast<std::size_t>(point));
    out += '.';
    out.append(digits, static_cast<std::size_t>(point));
  }
  return out;
}

double string_to_number(std::string_view text) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const std::string_view trimmed = unicode::trim(text);
  std::string_view t = trimmed;
  bool negative = false;
  if (!t.empty() && (t.front() == '+' || t.front() == '-')) {
    negative = t.front() == '-';
    t.remove_prefix(1);
  }
  if (equals_ignoring_ascii_case(t, "inf") || equals_ignoring_ascii_case(t, "infinity")) {
    return negative ? -kInf : kInf;
  }
  if (equals_ignoring_ascii_case(t, "nan")) return kNaN;
  if (!is_numeral(t)) {
    // A date or date-time counts as days, as the engines count them. It is
    // read only here, so plain numbers never pay for it, and only when the
    // text starts as a year can, so words and blanks do not either.
    if (trimmed.empty() || (!is_digit(trimmed.front()) && trimmed.front() != '+')) return kNaN;
    std::optional<detail::DateTime> date = detail::parse_date_time(trimmed);
    return date ? detail::days_since_1970(*date) : kNaN;
  }

  double value = 0;
  auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
  if (ec == std::errc::result_out_of_range) {
    // The conversion leaves the value unset on overflow and underflow.
    value = numeral_magnitude_at_least_one(t) ? kInf : 0.0;
  } else if (ec != std::errc() || end != t.data() + t.size()) {
    return kNaN;
  }
  return negative ? -value : value;
}

bool compare_equal(BinaryOp op, const Value& lhs, const Value& rhs) {
  const bool eq = op == BinaryOp::eq;
  const bool lhs_set = lhs.index() == 3;
  const bool rhs_set = rhs.index() == 3;
  if (!lhs_set && !rhs_set) return scalars_compare(eq, lhs, rhs);

  if (lhs_set && rhs_set) {
    const NodeSet& left = std::get<NodeSet>(lhs);
    const NodeSet& right = std::get<NodeSet>(rhs);
    if (!eq) return sets_differ(left, right);
    // A small side is scanned against the other, which stops at the first
    // match; two large sides meet through a hash of the smaller one.
    const NodeSet& small = left.ids.size() <= right.ids.size() ? left : right;
    const NodeSet& large = &small == &left ? right : left;
    if (!kFastPaths || small.ids.size() <= kScanLimit) {
      return any_node_string(small, [&](std::string_view s) {
        // Each visit has a scratch text of its own, so `s` outlives the inner one.
        const NodeTest same(true, s);
        return any_node_string(large, [&](std::string_view t) { return same.passes_text(t); });
      });
    }
    return NodeTexts(small).compare(BinaryOp::eq, large);
  }

  const NodeSet& set = std::get<NodeSet>(lhs_set ? lhs : rhs);
  const NodeTest test(eq, lhs_set ? rhs : lhs);
  if (test.kind() == NodeTest::Kind::presence) return set.ids.empty() != test.when_nodes();
  return any_node_string(set, [&](std::string_view s) { return test.passes(s); });
}

namespace detail {

NodeTexts::NodeTexts(const NodeSet& set) : has_ids_(!set.ids.empty()) {
  any_node_string(set, [&](std::string_view s) {
    if (!texts_.contains(s)) texts_.emplace(s);
    return false;
  });
}

const NodeTexts::Numbers& NodeTexts::numbers() const {
  if (!numbers_) {
    Numbers& n = numbers_.emplace();
    for (const std::string& text : texts_) {
      const double d = string_to_number(text);
      if (std::isnan(d)) {
        n.nan = true;
      } else {
        n.values.insert(d == 0 ? 0.0 : d);
      }
    }
  }
  return *numbers_;
}

// `=` looks its text or number up; `!=` scans the distinct ones, which stops
// by the second: of two distinct texts or numbers one differs from any other.
bool NodeTexts::compare(BinaryOp op, const Value& other) const {
  if (other.index() == 3) return compare(op, std::get<NodeSet>(other));
  const NodeTest test(op == BinaryOp::eq, other);
  switch (test.kind()) {
    case NodeTest::Kind::presence:
      return has_ids_ == test.when_nodes();
    case NodeTest::Kind::number: {
      const double d = test.number();
      const Numbers& n = numbers();
      if (test.eq()) return !std::isnan(d) && n.values.contains(d == 0 ? 0.0 : d);
      if (n.nan && test.passes_number(std::numeric_limits<double>::quiet_NaN())) return true;
      return std::any_of(n.values.begin(), n.values.end(),
                         [&](double v) { return test.passes_number(v); });
    }
    default:
      return test.eq() ? texts_.contains(test.text()) : any_text_passes(test);
  }
}

bool NodeTexts::compare(BinaryOp op, const NodeSet& other) const {
  if (texts_.empty()) return false;
  if (op == BinaryOp::eq) {
    return any_node_string(other, [&](std::string_view s) { return texts_.contains(s); });
  }
  return any_node_string(other,
                         [&](std::string_view s) { return any_text_passes(NodeTest(false, s)); });
}

bool NodeTexts::any_text_passes(const NodeTest& test) const {
  return std::any_of(texts_.begin(), texts_.end(),
                     [&](const std::string& t) { return test.passes_text(t); });
}

}  // namespace detail

std::string_view kind_phrase(const Value& value) {
  switch (value.index()) {
    case 0:
      return "a boolean";
    case 1:
      return "a number";
    case 2:
      return "a string";
    default:
      return "a node-set";
  }
}

std::expected<NodeSet, std::string> value_to_nodeset(Value&& value, std::string_view what) {
  if (auto* set = std::get_if<NodeSet>(&value)) return std::move(*set);
  return std::unexpected(detail::msg::needs_node_set(what, kind_phrase(value)));
}

void sort_document_order(std::vector<NodeId>& ids, const Document& doc) {
  if (ids.size() < 2) return;
  auto key = [&](NodeId id) { return doc.order_position(id); };
  auto by_key = [&](NodeId a, NodeId b) { return key(a) < key(b); };
  // Most lists are in order already: strictly rising positions are sorted
  // and hold no duplicate, so one pass settles them.
  if (std::adjacent_find(ids.begin(), ids.end(),
                         [&](NodeId a, NodeId b) { return !(key(a) < key(b)); }) == ids.end()) {
    return;
  }

  // Evaluated steps and unions nearly always come in one or two ascending
  // runs; those need no full sort.
  auto run_end = std::is_sorted_until(ids.begin(), ids.end(), by_key);
  if (run_end != ids.end()) {
    if (std::is_sorted(run_end, ids.end(), by_key)) {
      std::inplace_merge(ids.begin(), run_end, ids.end(), by_key);
    } else if (ids.size() >= doc.order_size() / 8) {
      // Dense in the document: mark positions and read them back in order.
      std::vector<bool> present(doc.order_size());
      std::vector<NodeId> unindexed;
      for (NodeId id : ids) {
        std::uint32_t k = key(id);
        if (k == Document::kUnindexed) {
          unindexed.push_back(id);
        } else {
          present[k] = true;
        }
      }
      ids.clear();
      for (std::uint32_t p = 0; p < present.size(); ++p) {
        if (present[p]) ids.push_back(doc.at_order_position(p));
      }
      ids.insert(ids.end(), unindexed.begin(), unindexed.end());
    } else {
      std::stable_sort(ids.begin(), ids.end(), by_key);
    }
  }
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
}

}  // namespace tovarn::xpath
