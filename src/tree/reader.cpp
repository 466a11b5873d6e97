#include <cstdint>
#include <cstring>
#include <tuple>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "tree/detail/messages.h"
#include "tree/xml.h"
#include "unicode/unicode.h"

namespace tovarn::tree {
namespace {

// Byte classes for the scans: ASCII white space, bytes of multi-byte
// characters (which may be Unicode white space), and the bytes that stop the
// search for a tag's closing '>'.
enum : std::uint8_t { kSpace = 1, kWide = 2, kTagStop = 4 };

constexpr auto kClasses = [] {
  struct Table {
    std::uint8_t at[256] = {};
  } t;
  for (unsigned char c : {'\t', '\n', '\v', '\f', '\r', ' '}) t.at[c] |= kSpace;
  for (int c = 0x80; c < 0x100; ++c) t.at[c] |= kWide;
  for (unsigned char c : {'>', '\'', '"'}) t.at[c] |= kTagStop;
  return t;
}();

inline std::uint8_t class_of(char c) { return kClasses.at[static_cast<unsigned char>(c)]; }

// The length of the White_Space character at text[i], or 0 when there is none.
inline std::size_t white_space_at(std::string_view text, std::size_t i) {
  const std::uint8_t k = class_of(text[i]);
  if (k & kSpace) return 1;
  if (!(k & kWide)) return 0;
  std::size_t next = i;
  return unicode::is_white_space(unicode::decode(text, next)) ? next - i : 0;
}

std::size_t skip_white_space(std::string_view text, std::size_t i) {
  while (i < text.size()) {
    const std::size_t n = white_space_at(text, i);
    if (n == 0) break;
    i += n;
  }
  return i;
}

std::size_t find_white_space(std::string_view text, std::size_t i) {
  while (i < text.size()) {
    const std::uint8_t k = class_of(text[i]);
    if (k == 0 || (k & kTagStop)) {
      ++i;
      continue;
    }
    if (k & kSpace) return i;
    std::size_t next = i;
    if (unicode::is_white_space(unicode::decode(text, next))) return i;
    i = next;
  }
  return text.size();
}

// Trims Unicode White_Space; most names and keys have none to trim.
inline std::string_view trim(std::string_view text) {
  if (text.empty() || ((class_of(text.front()) | class_of(text.back())) & (kSpace | kWide)) == 0) {
    return text;
  }
  return unicode::trim(text);
}

bool is_blank(std::string_view run) {
  for (char c : run) {
    const std::uint8_t k = class_of(c);
    if (k & kSpace) continue;
    if (k & kWide) return unicode::is_blank(run);
    return false;
  }
  return true;
}

// The first '>', apostrophe or double quote in [p, end), or end.
const char* find_tag_stop(const char* p, const char* end) {
#if defined(__SSE2__)
  // Tags are long enough (attribute lists) for sixteen bytes at a time to pay.
  const __m128i gt = _mm_set1_epi8('>');
  const __m128i apostrophe = _mm_set1_epi8('\'');
  const __m128i quote = _mm_set1_epi8('"');
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i hits = _mm_or_si128(_mm_cmpeq_epi8(v, gt),
                                      _mm_or_si128(_mm_cmpeq_epi8(v, apostrophe),
                                                   _mm_cmpeq_epi8(v, quote)));
    if (const int mask = _mm_movemask_epi8(hits)) return p + __builtin_ctz(mask);
    p += 16;
  }
#endif
  while (p < end && !(class_of(*p) & kTagStop)) ++p;
  return p;
}

// Where a tag opened at text[open] ends: the first '>' outside quotes, or npos.
std::size_t tag_end(std::string_view text, std::size_t open) {
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const char* p = begin + open + 1;
  for (;;) {
    p = find_tag_stop(p, end);
    if (p == end) return std::string_view::npos;
    if (*p == '>') return static_cast<std::size_t>(p - begin);
    const void* close = std::memchr(p + 1, *p, static_cast<std::size_t>(end - p - 1));
    if (close == nullptr) return std::string_view::npos;
    p = static_cast<const char*>(close) + 1;
  }
}

std::size_t find_byte(std::string_view text, std::size_t from, char c) {
  // Often the very next byte ("><", "='"): no call for that.
  if (from < text.size() && text[from] == c) return from;
  const void* at = std::memchr(text.data() + from, c, text.size() - from);
  return at ? static_cast<std::size_t>(static_cast<const char*>(at) - text.data())
            : std::string_view::npos;
}

// The first byte at or after `from` that is not a space, tab, line feed or
// carriage return: the usual indentation between tags is skipped in one go.
std::size_t skip_indentation(std::string_view text, std::size_t from) {
  const char* p = text.data() + from;
  const char* const end = text.data() + text.size();
#if defined(__SSE2__)
  const __m128i space = _mm_set1_epi8(' ');
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i tab = _mm_set1_epi8('\t');
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i blank = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, space), _mm_cmpeq_epi8(v, lf)),
                                       _mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, tab)));
    if (const int mask = ~_mm_movemask_epi8(blank) & 0xFFFF) {
      return static_cast<std::size_t>(p + __builtin_ctz(mask) - text.data());
    }
    p += 16;
  }
#endif
  while (p < end && (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t')) ++p;
  return static_cast<std::size_t>(p - text.data());
}

struct Run {
  std::size_t next_tag;  // the next '<', or npos
  bool blank;
};

// The stretch of text from `from` up to the next '<'.
Run scan_run(std::string_view text, std::size_t from) {
  if (from < text.size() && text[from] == '<') return {from, true};
  const std::size_t i = skip_indentation(text, from);
  if (i == text.size()) return {std::string_view::npos, true};
  if (text[i] == '<') return {i, true};
  const std::size_t next = find_byte(text, i, '<');
  const std::size_t end = next == std::string_view::npos ? text.size() : next;
  return {next, is_blank(text.substr(i, end - i))};
}

bool has_ampersand(std::string_view text) {
  return std::memchr(text.data(), '&', text.size()) != nullptr;
}

// Appends the text with the five named entities decoded. Their replacements
// in their order of passes come to one left-to-right pass: each entity starts
// with '&', ends with ';' and holds neither inside, so no two occurrences
// overlap, and no replacement character is part of an entity. "&amp;" is the
// last pass, so its '&' is never read again: "&amp;lt;" gives "&lt;".
void append_decoded(std::string_view text, std::string& out) {
  static constexpr struct {
    std::string_view entity;
    char replacement;
  } kEntities[] = {{"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}, {"&amp;", '&'}};
  std::size_t i = 0;
  for (std::size_t amp; (amp = find_byte(text, i, '&')) != std::string_view::npos;) {
    out.append(text, i, amp - i);
    i = amp + 1;
    char replacement = '&';
    for (const auto& e : kEntities) {
      if (text.substr(amp).starts_with(e.entity)) {
        replacement = e.replacement;
        i = amp + e.entity.size();
        break;
      }
    }
    out += replacement;
  }
  out.append(text, i);
}

}  // namespace

namespace detail {

// Builds a document in reading order, which is its document order: every
// record gets the next id, which is also its order position, and an element's
// subtree end is known when it closes. So the order needs no rebuild, and
// texts go straight into the store (reserved to the input's size, which bounds
// them all) without per-record checks.
class Builder {
 public:
  static constexpr std::uint32_t kNone = Document::kNone;

  explicit Builder(std::size_t input_size) {
    // About one record per 24 bytes in typical forms; a wrong guess only
    // costs a regrowth.
    const std::size_t records = input_size / 24 + 16;
    doc_.nodes_.reserve(records);
    doc_.order_subtree_end_.reserve(records);
    doc_.chars_.reserve(input_size);
  }

  std::uint32_t element(std::string_view name, std::uint32_t parent) {
    const std::uint32_t id = record(name, false);
    if (parent != kNone) {
      Document::Node& p = doc_.nodes_[parent];
      Document::Node& e = doc_.nodes_[id];
      e.parent = parent;
      e.previous = p.last_child;
      if (p.last_child == kNone) {
        p.first_child = id;
      } else {
        doc_.nodes_[p.last_child].next = id;
      }
      p.last_child = id;
    }
    return id;
  }

  void attribute(std::uint32_t owner, std::string_view name, std::string_view raw_value) {
    const std::uint32_t id = record(name, true);
    Document::Node& a = doc_.nodes_[id];
    a.parent = owner;
    std::tie(a.text_offset, a.text_length) = store(raw_value);
    Document::Node& o = doc_.nodes_[owner];
    a.previous = o.last_attribute;
    if (o.last_attribute == kNone) {
      o.first_attribute = id;
    } else {
      doc_.nodes_[o.last_attribute].next = id;
    }
    o.last_attribute = id;
  }

  void text(std::uint32_t element, std::string_view raw) {
    Document::Node& e = doc_.nodes_[element];
    std::tie(e.text_offset, e.text_length) = store(raw);
  }

  // The element's subtree is complete: it ends with the latest record.
  void close(std::uint32_t element) {
    doc_.order_subtree_end_[element] = static_cast<std::uint32_t>(doc_.nodes_.size() - 1);
  }

  std::string_view name(std::uint32_t id) const { return doc_.name(NodeId{id}); }
  std::uint32_t parent(std::uint32_t id) const { return doc_.nodes_[id].parent; }

  Document finish(std::uint32_t root) {
    doc_.root_ = root;
    const auto n = static_cast<std::uint32_t>(doc_.nodes_.size());
    doc_.order_position_.resize(n);
    doc_.order_nodes_.resize(n);
    for (std::uint32_t i = 0; i < n; ++i) {
      doc_.order_position_[i] = i;
      doc_.order_nodes_[i] = NodeId{i};
    }
    doc_.order_current_ = true;
    return std::move(doc_);
  }

 private:
  std::uint32_t record(std::string_view name, bool is_attribute) {
    const auto id = static_cast<std::uint32_t>(doc_.nodes_.size());
    Document::Node& n = doc_.nodes_.emplace_back();
    n.name_offset = static_cast<std::uint32_t>(doc_.chars_.size());
    n.name_length = static_cast<std::uint32_t>(name.size());
    n.text_offset = n.name_offset + n.name_length;  // empty text
    n.is_attribute = is_attribute;
    doc_.chars_.append(name);
    doc_.order_subtree_end_.push_back(id);
    return id;
  }

  std::pair<std::uint32_t, std::uint32_t> store(std::string_view raw) {
    const auto offset = static_cast<std::uint32_t>(doc_.chars_.size());
    if (has_ampersand(raw)) {
      append_decoded(raw, doc_.chars_);
    } else {
      doc_.chars_.append(raw);
    }
    return {offset, static_cast<std::uint32_t>(doc_.chars_.size() - offset)};
  }

  Document doc_;
};

}  // namespace detail

namespace {

using detail::ReadError;

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text), build_(text.size()) {}

  std::expected<Document, std::string> read() {
    const std::size_t size = text_.size();
    std::size_t lt = find_byte(text_, 0, '<');
    while (lt != std::string_view::npos) {
      if (lt + 1 < size && (text_[lt + 1] == '?' || text_[lt + 1] == '!')) {
        lt = find_byte(text_, lt + 1, '<');
        continue;
      }
      const std::size_t gt = tag_end(text_, lt);
      if (gt == std::string_view::npos) return fail(ReadError::unterminated_tag);
      const std::string_view inner = text_.substr(lt + 1, gt - lt - 1);
      if (!inner.empty() && inner[0] == '/') {
        if (auto error = close(inner.substr(1))) return std::unexpected(std::move(*error));
        lt = scan_run(text_, gt + 1).next_tag;
      } else {
        auto next = open(inner, gt + 1);
        if (!next) return std::unexpected(std::move(next.error()));
        lt = *next;
      }
    }
    if (open_ != kNone) return fail(ReadError::unclosed_elements);
    if (root_ == kNone) return fail(ReadError::no_root);
    return build_.finish(root_);
  }

 private:
  static constexpr std::uint32_t kNone = detail::Builder::kNone;

  static std::unexpected<std::string> fail(ReadError error) {
    return std::unexpected(detail::message(error));
  }

  std::optional<std::string> close(std::string_view rest) {
    const std::string_view name = local_name(trim(rest));
    if (open_ == kNone) return detail::message(ReadError::closing_without_opening);
    const std::string_view open_name = build_.name(open_);
    if (open_name != name) return detail::closing_mismatch(name, open_name);
    build_.close(open_);
    open_ = build_.parent(open_);
    return std::nullopt;
  }

  // A start or empty-element tag whose '>' is just before `after`; gives the
  // position of the next '<' (the end of the element's first run of text).
  std::expected<std::size_t, std::string> open(std::string_view inner, std::size_t after) {
    std::string_view body = inner;
    const bool empty_element = !body.empty() && body.back() == '/';
    while (!body.empty() && body.back() == '/') body.remove_suffix(1);

    if (open_ == kNone && root_ != kNone) {
      return std::unexpected(detail::message(ReadError::more_than_one_root));
    }
    const std::size_t name_begin = skip_white_space(body, 0);
    const std::size_t name_end = find_white_space(body, name_begin);
    const std::uint32_t element =
        build_.element(local_name(body.substr(name_begin, name_end - name_begin)), open_);
    if (root_ == kNone) root_ = element;
    // Attributes start at the body's first white-space character.
    read_attributes(body, name_begin > 0 ? 0 : name_end, element);

    const Run run = scan_run(text_, after);
    if (empty_element) {
      build_.close(element);
      return run.next_tag;
    }
    if (!run.blank) {
      const std::size_t end = run.next_tag == std::string_view::npos ? text_.size() : run.next_tag;
      build_.text(element, text_.substr(after, end - after));
    }
    open_ = element;
    return run.next_tag;
  }

  void read_attributes(std::string_view body, std::size_t i, std::uint32_t element) {
    while (i < body.size()) {
      const std::size_t eq = find_byte(body, i, '=');
      if (eq == std::string_view::npos) return;
      const std::string_view key = trim(body.substr(i, eq - i));
      const std::size_t q = skip_white_space(body, eq + 1);
      if (q >= body.size() || (body[q] != '\'' && body[q] != '"')) return;
      const std::size_t close = find_byte(body, q + 1, body[q]);
      if (close == std::string_view::npos) return;
      if (!key.empty()) build_.attribute(element, local_name(key), body.substr(q + 1, close - q - 1));
      i = close + 1;
    }
  }

  std::string_view text_;
  detail::Builder build_;
  std::uint32_t root_ = kNone;
  // The innermost open element; the open stack is its chain of parents.
  std::uint32_t open_ = kNone;
};

}  // namespace

std::expected<Document, std::string> parse_xml(std::string_view text) {
  // Every stored text is a piece of the input, so an input that fits the
  // store's 32-bit offsets cannot overflow them while it is read, nor can the
  // records (each takes at least two bytes) exhaust the 32-bit ids.
  if (text.size() >= UINT32_MAX) return std::unexpected(detail::message(ReadError::too_large));
  return Reader(text).read();
}

std::string_view local_name(std::string_view name) {
  for (std::size_t i = name.size(); i > 0; --i) {
    if (name[i - 1] == ':') return name.substr(i);
  }
  return name;
}

std::string decode_entities(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  append_decoded(text, out);
  return out;
}

}  // namespace tovarn::tree
