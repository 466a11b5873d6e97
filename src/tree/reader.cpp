#include <cstdint>
#include <cstring>
#include <tuple>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "tree/detail/messages.h"
#include "tree/xml.h"
#include "unicode/unicode.h"

namespace tovarn::tree {
namespace {

// Byte classes for the scans: ASCII white space, bytes of multi-byte
// characters (which may be Unicode white space), the bytes that stop the
// search for a tag's closing '>', and the bytes of plain names.
enum : std::uint8_t { kSpace = 1, kWide = 2, kTagStop = 4, kPlain = 8 };

constexpr auto kClasses = [] {
  struct Table {
    std::uint8_t at[256] = {};
  } t;
  for (unsigned char c : {'\t', '\n', '\v', '\f', '\r', ' '}) t.at[c] |= kSpace;
  for (int c = 0x80; c < 0x100; ++c) t.at[c] |= kWide;
  for (unsigned char c : {'>', '\'', '"'}) t.at[c] |= kTagStop;
  // Bytes of names and keys in the usual shape of a tag (see plain_tag).
  for (int c = 0; c < 0x80; ++c) {
    if (!(t.at[c] & (kSpace | kTagStop)) && c != '/' && c != '=') t.at[c] |= kPlain;
  }
  return t;
}();

inline std::uint8_t class_of(char c) { return kClasses.at[static_cast<unsigned char>(c)]; }

// The first c in [p, end), or nullptr. Most searches end within a few bytes
// (an attribute value, the gap to the next tag), too soon to repay a call, so
// the first sixteen are looked at inline.
inline const char* find_char(const char* p, const char* end, char c) {
#if defined(__SSE2__)
  if (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if (const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(c)))) {
      return p + __builtin_ctz(mask);
    }
    p += 16;
    return static_cast<const char*>(std::memchr(p, c, static_cast<std::size_t>(end - p)));
  }
#endif
  for (; p < end; ++p) {
    if (*p == c) return p;
  }
  return nullptr;
}

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
    if (!(k & (kSpace | kWide))) {
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
  const char* at = find_char(text.data() + from, text.data() + text.size(), c);
  return at ? static_cast<std::size_t>(at - text.data()) : std::string_view::npos;
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

// local_name, inlined into the scans.
inline std::string_view local_part(std::string_view name) {
  for (std::size_t i = name.size(); i > 0; --i) {
    if (name[i - 1] == ':') return name.substr(i);
  }
  return name;
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
    // Forms average a record per 40 bytes; denser text costs one regrowth.
    const std::size_t records = input_size / 40 + 16;
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

  std::string_view name(std::uint32_t id) const {
    const Document::Node& n = doc_.nodes_[id];
    return std::string_view(doc_.chars_.data() + n.name_offset, n.name_length);
  }
  std::uint32_t parent(std::uint32_t id) const { return doc_.nodes_[id].parent; }

  Document finish(std::uint32_t root) {
    doc_.root_ = root;
    // The store was reserved to the input's size; indentation and markup
    // usually leave much of that unused, which a long-lived document (a
    // session's instance) should not keep.
    if (doc_.chars_.capacity() / 2 > doc_.chars_.size()) doc_.chars_.shrink_to_fit();
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

// A start or empty-element tag, read.
struct Tag {
  std::string_view name;  // local name
  bool empty_element = false;
  std::size_t end = 0;  // its '>'
};

struct Attribute {
  std::string_view key;  // local name
  std::string_view raw_value;
};

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text), build_(text.size()) {}

  std::expected<Document, std::string> read() {
    const std::size_t size = text_.size();
    std::size_t lt = find_byte(text_, 0, '<');
    while (lt != std::string_view::npos) {
      const char next = lt + 1 < size ? text_[lt + 1] : '\0';
      if (next == '?' || next == '!') {
        lt = find_byte(text_, lt + 1, '<');
        continue;
      }
      Tag tag;
      if (!plain_tag(lt, tag)) {
        tag.end = tag_end(text_, lt);
        if (tag.end == std::string_view::npos) return fail(ReadError::unterminated_tag);
        const std::string_view inner = text_.substr(lt + 1, tag.end - lt - 1);
        if (next == '/') {
          if (auto error = close(local_part(trim(inner.substr(1))))) {
            return std::unexpected(std::move(*error));
          }
          lt = scan_run(text_, tag.end + 1).next_tag;
          continue;
        }
        read_tag(inner, tag);
      } else if (next == '/') {
        if (auto error = close(tag.name)) return std::unexpected(std::move(*error));
        lt = scan_run(text_, tag.end + 1).next_tag;
        continue;
      }
      auto after = open(tag);
      if (!after) return std::unexpected(std::move(after.error()));
      lt = *after;
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

  // Reads the tag at text_[lt] in one pass when it has the shape nearly every
  // tag has: "<name", then attributes "key='value'" or 'key="value"' (with
  // ASCII white space around the '=' and before each key), then ASCII white
  // space, slashes and '>'; or "</name>". Names and keys hold only ASCII other
  // than white space, quotes, '/', '=' and '>', so the only quotes are the
  // values' own and the general reading (tag_end, read_tag) would find the same
  // end, name and attributes. Anything else is left to it: false.
  bool plain_tag(std::size_t lt, Tag& tag) {
    const char* const begin = text_.data();
    const char* const end = begin + text_.size();
    const char* p = begin + lt + 1;
    const bool end_tag = p < end && *p == '/';
    p += end_tag;
    const char* name = p;
    while (p < end && (class_of(*p) & kPlain)) ++p;
    if (p == name) return false;
    tag.name = local_part(std::string_view(name, static_cast<std::size_t>(p - name)));
    if (end_tag) {
      if (p == end || *p != '>') return false;
      tag.end = static_cast<std::size_t>(p - begin);
      return true;
    }
    attributes_.clear();
    bool after_name = true;
    for (;;) {
      const char* gap = p;
      while (p < end && (class_of(*p) & kSpace)) ++p;
      if (p == end) return false;
      if (class_of(*p) & kPlain) {
        if (after_name && p == gap) return false;
        after_name = false;
        const char* key = p;
        while (p < end && (class_of(*p) & kPlain)) ++p;
        const char* key_end = p;
        while (p < end && (class_of(*p) & kSpace)) ++p;
        if (p == end || *p != '=') return false;
        ++p;
        while (p < end && (class_of(*p) & kSpace)) ++p;
        if (p == end || (*p != '\'' && *p != '"')) return false;
        const char* close = find_char(p + 1, end, *p);
        if (close == nullptr) return false;
        attributes_.push_back({local_part(std::string_view(key, static_cast<std::size_t>(key_end - key))),
                               std::string_view(p + 1, static_cast<std::size_t>(close - p - 1))});
        p = close + 1;
        continue;
      }
      const char* slashes = p;
      while (p < end && *p == '/') ++p;
      if (p == end || *p != '>') return false;
      tag.empty_element = p > slashes;
      tag.end = static_cast<std::size_t>(p - begin);
      return true;
    }
  }

  // The general reading of a start tag's inner text.
  void read_tag(std::string_view inner, Tag& tag) {
    std::string_view body = inner;
    tag.empty_element = !body.empty() && body.back() == '/';
    while (!body.empty() && body.back() == '/') body.remove_suffix(1);
    const std::size_t name_begin = skip_white_space(body, 0);
    const std::size_t name_end = find_white_space(body, name_begin);
    tag.name = local_part(body.substr(name_begin, name_end - name_begin));
    // Attributes start at the body's first white-space character.
    read_attributes(body, name_begin > 0 ? 0 : name_end);
  }

  void read_attributes(std::string_view body, std::size_t i) {
    attributes_.clear();
    while (i < body.size()) {
      const std::size_t eq = find_byte(body, i, '=');
      if (eq == std::string_view::npos) return;
      const std::string_view key = trim(body.substr(i, eq - i));
      const std::size_t q = skip_white_space(body, eq + 1);
      if (q >= body.size() || (body[q] != '\'' && body[q] != '"')) return;
      const std::size_t close = find_byte(body, q + 1, body[q]);
      if (close == std::string_view::npos) return;
      if (!key.empty()) attributes_.push_back({local_part(key), body.substr(q + 1, close - q - 1)});
      i = close + 1;
    }
  }

  // An end tag with that local name.
  std::optional<std::string> close(std::string_view name) {
    if (open_ == kNone) return detail::message(ReadError::closing_without_opening);
    const std::string_view open_name = build_.name(open_);
    if (open_name != name) return detail::closing_mismatch(name, open_name);
    build_.close(open_);
    open_ = build_.parent(open_);
    return std::nullopt;
  }

  // Makes and places the element of a start tag; gives the position of the
  // next '<' (the end of the element's first run of text).
  std::expected<std::size_t, std::string> open(const Tag& tag) {
    if (open_ == kNone && root_ != kNone) {
      return std::unexpected(detail::message(ReadError::more_than_one_root));
    }
    const std::uint32_t element = build_.element(tag.name, open_);
    if (root_ == kNone) root_ = element;
    for (const Attribute& a : attributes_) build_.attribute(element, a.key, a.raw_value);

    const std::size_t after = tag.end + 1;
    const Run run = scan_run(text_, after);
    if (tag.empty_element) {
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

  std::string_view text_;
  detail::Builder build_;
  std::vector<Attribute> attributes_;  // of the tag being read, reused
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

std::string_view local_name(std::string_view name) { return local_part(name); }

std::string decode_entities(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  append_decoded(text, out);
  return out;
}

}  // namespace tovarn::tree
