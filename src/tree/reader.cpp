#include <cstdint>
#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <tuple>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "tree/detail/messages.h"
#include "tree/fast_paths.h"
#include "tree/recycle.h"
#include "tree/xml.h"
#include "unicode/unicode.h"

namespace tovarn::tree {
namespace {

// Byte classes for the scans: ASCII white space, bytes of multi-byte
// characters (which may be Unicode white space), the bytes that stop the
// search for a tag's closing '>', the bytes of plain names, and those an
// attribute value's reading changes.
enum : std::uint8_t { kSpace = 1, kWide = 2, kTagStop = 4, kPlain = 8, kValueStop = 16 };

constexpr auto kClasses = [] {
  struct Table {
    std::uint8_t at[256] = {};
  } t;
  for (unsigned char c : {'\t', '\n', '\v', '\f', '\r', ' '}) t.at[c] |= kSpace;
  for (int c = 0x80; c < 0x100; ++c) t.at[c] |= kWide;
  for (unsigned char c : {'>', '\'', '"'}) t.at[c] |= kTagStop;
  for (unsigned char c : {'&', '\t', '\n', '\r'}) t.at[c] |= kValueStop;
  // Bytes of names and keys in the usual shape of a tag (see plain_tag).
  for (int c = 0; c < 0x80; ++c) {
    if (!(t.at[c] & (kSpace | kTagStop)) && c != '/' && c != '=') t.at[c] |= kPlain;
  }
  return t;
}();

inline std::uint8_t class_of(char c) { return kClasses.at[static_cast<unsigned char>(c)]; }

// A run of plain bytes (a name or key in the usual shape of a tag) and where
// its local part starts: just after its last ':'.
struct PlainRun {
  const char* end;    // the first byte that is not plain
  const char* local;  // the start of the local part
};

// Names are the bytes the reader touches most (every start and end tag), so
// they are scanned sixteen at a time: one signed compare finds every byte at or
// below ' ' and every byte of a multi-byte character, five more the ASCII
// stops. The control characters it also finds are plain; they go on byte by
// byte, as does the last stretch of the input.
inline PlainRun scan_plain(const char* p, const char* end) {
  const char* local = p;
#if defined(__SSE2__)
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i stops = _mm_or_si128(
        _mm_or_si128(_mm_cmplt_epi8(v, _mm_set1_epi8('!')),
                     _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')),
                                  _mm_cmpeq_epi8(v, _mm_set1_epi8('\'')))),
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('/')),
                                  _mm_cmpeq_epi8(v, _mm_set1_epi8('='))),
                     _mm_cmpeq_epi8(v, _mm_set1_epi8('>'))));
    const auto stop_mask = static_cast<unsigned>(_mm_movemask_epi8(stops));
    const __m128i colons = _mm_cmpeq_epi8(v, _mm_set1_epi8(':'));
    auto colon_mask = static_cast<unsigned>(_mm_movemask_epi8(colons));
    const int run = stop_mask ? __builtin_ctz(stop_mask) : 16;
    colon_mask &= (1u << run) - 1;
    if (colon_mask) local = p + (32 - __builtin_clz(colon_mask));
    p += run;
    if (run < 16) {
      if (!(class_of(*p) & kPlain)) return {p, local};
      break;
    }
  }
#endif
  for (; p < end && (class_of(*p) & kPlain); ++p) {
    if (*p == ':') local = p + 1;
  }
  return {p, local};
}

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

// The closing quote `quote` of an attribute value starting at p, or nullptr;
// `plain` tells whether the value before it holds nothing to decode (no '&',
// tab, LF or CR), so it can be kept as it is.
inline const char* find_value_end(const char* p, const char* end, char quote, bool& plain) {
  plain = true;
#if defined(__SSE2__)
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int quotes = _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(quote)));
    const int stops = _mm_movemask_epi8(
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('&')),
                                  _mm_cmpeq_epi8(v, _mm_set1_epi8('\t'))),
                     _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n')),
                                  _mm_cmpeq_epi8(v, _mm_set1_epi8('\r')))));
    if (quotes) {
      const int at = __builtin_ctz(quotes);
      if (stops & ((1 << at) - 1)) plain = false;
      return p + at;
    }
    if (stops) plain = false;
    p += 16;
  }
#endif
  for (; p < end; ++p) {
    if (*p == quote) return p;
    if (class_of(*p) & kValueStop) plain = false;
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
  auto indentation = [](char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; };
  // Dense markup has no indentation at all.
  if (p < end && !indentation(*p)) return from;
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
  while (p < end && indentation(*p)) ++p;
  return static_cast<std::size_t>(p - text.data());
}

struct Run {
  std::size_t next_tag;  // the next '<', or npos
  bool blank;
  bool entities;  // holds an '&' or a CR (so its text needs decoding)
};

// The first '<', '&' or CR in [p, end), or end.
const char* find_tag_or_entity(const char* p, const char* end) {
#if defined(__SSE2__)
  const __m128i lt = _mm_set1_epi8('<');
  const __m128i amp = _mm_set1_epi8('&');
  const __m128i cr = _mm_set1_epi8('\r');
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, lt), _mm_cmpeq_epi8(v, amp)),
                                      _mm_cmpeq_epi8(v, cr));
    if (const int mask = _mm_movemask_epi8(hits)) return p + __builtin_ctz(mask);
    p += 16;
  }
#endif
  while (p < end && *p != '<' && *p != '&' && *p != '\r') ++p;
  return p;
}

// The stretch of text from `from` up to the next '<'. Texts rarely hold an
// entity or a CR, so one search for the first '<', '&' or CR usually answers
// both; the line ends of the indentation skipped before it are looked at on
// their own.
Run scan_run(std::string_view text, std::size_t from) {
  if (from < text.size() && text[from] == '<') return {from, true, false};
  const std::size_t i = skip_indentation(text, from);
  if (i == text.size()) return {std::string_view::npos, true, false};
  if (text[i] == '<') return {i, true, false};
  const char* const end = text.data() + text.size();
  const char* stop = find_tag_or_entity(text.data() + i, end);
  const bool entities = (stop != end && *stop != '<') ||
                        (i > from && std::memchr(text.data() + from, '\r', i - from) != nullptr);
  if (stop != end && *stop != '<') stop = find_char(stop + 1, end, '<');
  const std::size_t next = stop == nullptr || stop == end
                               ? std::string_view::npos
                               : static_cast<std::size_t>(stop - text.data());
  const std::size_t run_end = next == std::string_view::npos ? text.size() : next;
  return {next, is_blank(text.substr(i, run_end - i)), entities};
}

bool has_quote(std::string_view text) {
  return text.find_first_of("'\"") != std::string_view::npos;
}

// local_name, inlined into the scans.
inline std::string_view local_part(std::string_view name) {
  for (std::size_t i = name.size(); i > 0; --i) {
    if (name[i - 1] == ':') return name.substr(i);
  }
  return name;
}

// The first '&', tab, line feed or carriage return in [p, end), or end.
inline const char* find_value_stop(const char* p, const char* end) {
#if defined(__SSE2__)
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i hits =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('&')),
                                  _mm_cmpeq_epi8(v, _mm_set1_epi8('\t'))),
                     _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n')),
                                  _mm_cmpeq_epi8(v, _mm_set1_epi8('\r'))));
    if (const int mask = _mm_movemask_epi8(hits)) return p + __builtin_ctz(mask);
    p += 16;
  }
#endif
  while (p < end && !(class_of(*p) & kValueStop)) ++p;
  return p;
}

// Whether XML allows the code point as a character.
constexpr bool is_xml_char(std::uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// Decodes the character reference "&#N;" or "&#xH;" at text[amp] into `out`;
// gives its length, or 0 (and writes nothing) when it is none or names a code
// point XML does not allow, so that it stays as written.
std::size_t write_char_ref(std::string_view text, std::size_t amp, char*& out) {
  std::size_t i = amp + 2;
  const bool hex = i < text.size() && text[i] == 'x';
  i += hex;
  const std::size_t digits = i;
  std::uint32_t c = 0;
  for (; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    std::uint32_t d;
    if (b >= '0' && b <= '9') {
      d = b - '0';
    } else if (hex && (b | 0x20) >= 'a' && (b | 0x20) <= 'f') {
      d = (b | 0x20) - 'a' + 10;
    } else {
      break;
    }
    // Past U+10FFFF the value only has to stay out of range, not exact.
    c = std::min<std::uint32_t>(c * (hex ? 16 : 10) + d, 0x110000);
  }
  if (i == digits || i == text.size() || text[i] != ';' || !is_xml_char(c)) return 0;
  auto put = [&out](std::uint32_t byte) { *out++ = static_cast<char>(byte); };
  if (c < 0x80) {
    put(c);
  } else if (c < 0x800) {
    put(0xC0 | (c >> 6));
    put(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    put(0xE0 | (c >> 12));
    put(0x80 | ((c >> 6) & 0x3F));
    put(0x80 | (c & 0x3F));
  } else {
    put(0xF0 | (c >> 18));
    put(0x80 | ((c >> 12) & 0x3F));
    put(0x80 | ((c >> 6) & 0x3F));
    put(0x80 | (c & 0x3F));
  }
  return i + 1 - amp;
}

// Decodes the reference at text[amp] ('&') into `out`, or copies the '&' when
// there is none there; gives where the text goes on.
std::size_t write_reference(std::string_view text, std::size_t amp, char*& out) {
  static constexpr struct {
    std::string_view entity;
    char replacement;
  } kEntities[] = {{"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}, {"&amp;", '&'}};
  if (amp + 1 < text.size() && text[amp + 1] == '#') {
    if (const std::size_t n = write_char_ref(text, amp, out)) return amp + n;
  } else {
    for (const auto& e : kEntities) {
      if (text.substr(amp).starts_with(e.entity)) {
        *out++ = e.replacement;
        return amp + e.entity.size();
      }
    }
  }
  *out++ = '&';
  return amp + 1;
}

// What write_decoded turns into what: `entities` decodes references alone;
// the other readings also make every CR LF and lone CR an LF (a space in an
// attribute value, where a literal tab or LF becomes a space too), as XML
// does before anything else is read; `cdata` does nothing else.
enum class Decoding { entities, text, attribute, cdata };

// The first '&' or CR in [p, end), or end.
inline const char* find_reference_or_cr(const char* p, const char* end) {
#if defined(__SSE2__)
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i hits = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('&')),
                                      _mm_cmpeq_epi8(v, _mm_set1_epi8('\r')));
    if (const int mask = _mm_movemask_epi8(hits)) return p + __builtin_ctz(mask);
    p += 16;
  }
#endif
  while (p < end && *p != '&' && *p != '\r') ++p;
  return p;
}

// Writes the text decoded to `out`, which has room for the text as it is
// (decoding never lengthens: the shortest reference, "&#9;", is four bytes
// for one), and gives the end of what it wrote. One left-to-right pass, so a
// decoded character is never read again: "&amp;lt;" gives "&lt;", "&#38;lt;"
// too, and "&#13;" stays a CR.
template <Decoding kMode>
char* write_decoded(std::string_view text, char* out) {
  const char* p = text.data();
  const char* const end = p + text.size();
  for (;;) {
    const char* stop;
    if constexpr (kMode == Decoding::attribute) {
      stop = find_value_stop(p, end);
    } else if constexpr (kMode == Decoding::text) {
      stop = find_reference_or_cr(p, end);
    } else {
      stop = find_char(p, end, kMode == Decoding::cdata ? '\r' : '&');
      if (stop == nullptr) stop = end;
    }
    // In place, what comes before the first change is already where it goes.
    out = out == p ? out + (stop - p) : std::copy(p, stop, out);
    if (stop == end) return out;
    if (*stop == '&') {
      p = text.data() + write_reference(text, static_cast<std::size_t>(stop - text.data()), out);
    } else if (*stop == '\r') {
      *out++ = kMode == Decoding::attribute ? ' ' : '\n';
      p = stop + 1 + (stop + 1 < end && stop[1] == '\n');
    } else {  // a tab or LF in an attribute value
      *out++ = ' ';
      p = stop + 1;
    }
  }
}

}  // namespace

namespace detail {

// Builds a document in reading order, which is its document order: every
// record gets the next id, which is also its order position, and an element's
// subtree end is known when it closes. So the order needs no rebuild.
//
// Names and texts are pieces of the input (decoding only shortens them), and
// the store takes them in one of two ways:
// - copies: one after another into a store sized to the input once, so with
//   plain copies and no growth; only the general reading of an odd tag can
//   store a byte twice (a name that runs into the attributes), and then it
//   grows. Markup and indentation are left out, for documents kept long.
// - in place: the store is the input itself and a piece is its offset there;
//   a decoded text overwrites its own raw bytes, or goes after the input
//   where a kept piece overlaps them (an odd tag's name). No piece is copied, which is most of
//   the cost of a dense document that lives for one request.
class Builder {
 public:
  static constexpr std::uint32_t kNone = Document::kNone;

  // Copies.
  explicit Builder(std::string_view input) {
    reserve_records(input.size());
    doc_.chars_ = take_buffer<std::string>(input.size());
    // Every byte below used_ is written before it is read, and finish cuts
    // the store to used_, so the store is not zeroed first.
    doc_.chars_.resize_and_overwrite(input.size(), [](char*, std::size_t n) { return n; });
  }

  // In place: the input moves into the store, where the reader reads it
  // (`input()`); decoded texts wait in their own buffer until finish, so the
  // store never moves under the reader.
  explicit Builder(std::string&& input) : in_place_(true) {
    reserve_records(input.size());
    doc_.chars_ = std::move(input);
    used_ = static_cast<std::uint32_t>(doc_.chars_.size());
  }

  std::string_view input() const { return doc_.chars_; }

  [[gnu::always_inline]] std::uint32_t element(std::string_view name, std::uint32_t parent) {
    const std::uint32_t id = record(name, false);
    if (parent != kNone) {
      Document::Node& p = doc_.nodes_[parent];
      doc_.nodes_[id].parent = parent;
      link_last(id, p.first_child, p.last_child);
    }
    return id;
  }

  // `plain`: nothing in the value to decode, so it is kept as it is.
  void attribute(std::uint32_t owner, std::string_view name, std::string_view raw_value,
                 bool plain) {
    const std::uint32_t id = record(name, true);
    Document::Node& a = doc_.nodes_[id];
    a.parent = owner;
    std::tie(a.text_offset, a.text_length) =
        plain ? place(raw_value)
              : store(raw_value, raw_value.size(), [raw_value](char* out) {
                  return write_decoded<Decoding::attribute>(raw_value, out);
                });
    Document::Node& o = doc_.nodes_[owner];
    link_last(id, o.first_attribute, o.last_attribute);
  }

  // `entities`: whether the text holds an '&' or a CR, only then decoded; a
  // text that decodes to white space alone is blank, and is not kept.
  void text(std::uint32_t element, std::string_view raw, bool entities) {
    Document::Node& e = doc_.nodes_[element];
    if (!entities) {
      std::tie(e.text_offset, e.text_length) = place(raw);
      return;
    }
    const auto [offset, length] =
        store(raw, raw.size(), [raw](char* out) { return write_decoded<Decoding::text>(raw, out); });
    // In place, a text decoded over its raw bytes lies within the input, and
    // one that went after it lies at the end of decoded_.
    const bool after_input = in_place_ && offset >= doc_.chars_.size();
    const std::string_view stored =
        after_input ? std::string_view(decoded_).substr(decoded_.size() - length)
                    : std::string_view(doc_.chars_.data() + offset, length);
    if (is_blank(stored)) {
      if (!in_place_ || after_input) used_ -= length;
      if (after_input) decoded_.resize(decoded_.size() - length);
      return;
    }
    std::tie(e.text_offset, e.text_length) = std::pair(offset, length);
  }

  // A text already decoded (and not blank).
  void decoded_text(std::uint32_t element, std::string_view decoded) {
    Document::Node& e = doc_.nodes_[element];
    std::tie(e.text_offset, e.text_length) = store({}, decoded.size(), [decoded](char* out) {
      return std::copy(decoded.begin(), decoded.end(), out);
    });
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
    if (in_place_) {
      tree::make_room(doc_.chars_, doc_.chars_.size() + decoded_.size());
      doc_.chars_ += decoded_;
      give_buffer(decoded_);
    } else {
      doc_.chars_.resize(used_);
      // Indentation and markup usually leave much of the input's size unused,
      // which a long-lived document (a session's instance) should not keep;
      // a recycled one lives for its call, and its buffer for the next.
      if (!Recycling::active() && doc_.chars_.capacity() / 2 > doc_.chars_.size())
        doc_.chars_.shrink_to_fit();
    }
    if constexpr (kFastPaths) {
      doc_.identity_order_ = true;
      doc_.identity_order_size_ = static_cast<std::uint32_t>(doc_.nodes_.size());
      doc_.order_current_ = true;
    } else {
      doc_.reindex_document_order();
    }
    return std::move(doc_);
  }

 private:
  // Appends record `id` to the sibling list that `first` and `last` bound.
  [[gnu::always_inline]] void link_last(std::uint32_t id, std::uint32_t& first,
                                        std::uint32_t& last) {
    doc_.nodes_[id].previous = last;
    if (last == kNone) {
      first = id;
    } else {
      doc_.nodes_[last].next = id;
    }
    last = id;
  }

  [[gnu::always_inline]] std::uint32_t record(std::string_view name, bool is_attribute) {
    const auto id = static_cast<std::uint32_t>(doc_.nodes_.size());
    if (id == doc_.nodes_.capacity()) [[unlikely]] grow_records();
    Document::Node& n = doc_.nodes_.emplace_back();
    std::tie(n.name_offset, n.name_length) = place(name);
    n.text_offset = n.name_offset + n.name_length;  // empty text
    n.is_attribute = is_attribute;
    doc_.order_subtree_end_.push_back(id);
    return id;
  }

  void reserve_records(std::size_t input_size) {
    // A record per 32 bytes covers most submissions (dense ones take about
    // 23 bytes an element and regrow once) and costs no pass over the input.
    // Untouched capacity is not free: a 3 MB indented form reserved 9 MB of
    // records for the 3 MB it used, which pushed each call's heap past
    // glibc's trim threshold, so every call faulted its memory in afresh.
    const std::size_t records = input_size / 32 + 16;
    doc_.nodes_ = take_buffer<std::vector<Document::Node>>(records);
    doc_.order_subtree_end_ = take_buffer<std::vector<std::uint32_t>>(records);
  }

  // Recycling, the tables grow into kept buffers; otherwise as vectors do.
  [[gnu::noinline]] void grow_records() {
    tree::make_room(doc_.nodes_, doc_.nodes_.size() + 1);
    tree::make_room(doc_.order_subtree_end_, doc_.nodes_.capacity());
  }

  // A piece of the input as it is.
  [[gnu::always_inline]] std::pair<std::uint32_t, std::uint32_t> place(std::string_view piece) {
    const auto length = static_cast<std::uint32_t>(piece.size());
    if (in_place_) {
      const auto offset = static_cast<std::uint32_t>(piece.data() - doc_.chars_.data());
      placed_end_ = std::max(placed_end_, offset + length);
      return {offset, length};
    }
    make_room(piece.size());
    const std::uint32_t offset = used_;
    std::memcpy(doc_.chars_.data() + offset, piece.data(), piece.size());
    used_ += length;
    return {offset, length};
  }

  // A piece that `write` writes, at most `bound` bytes, decoded from `raw`. In
  // place, decoding only shortens, so a piece no stored piece reaches yet is
  // decoded over its own raw bytes, and the input's capacity is never
  // outgrown; otherwise (an odd tag's name runs into its value, or there is no
  // raw span) it goes after the input.
  template <typename Write>
  [[gnu::always_inline]] std::pair<std::uint32_t, std::uint32_t> store(std::string_view raw,
                                                                       std::size_t bound,
                                                                       Write write) {
    if (in_place_ && !raw.empty()) {
      const auto at = static_cast<std::uint32_t>(raw.data() - doc_.chars_.data());
      if (at >= placed_end_) {
        char* const out = doc_.chars_.data() + at;
        const auto length = static_cast<std::uint32_t>(write(out) - out);
        placed_end_ = at + static_cast<std::uint32_t>(raw.size());
        return {at, length};
      }
    }
    make_room(bound);
    const std::uint32_t offset = used_;
    if (in_place_) {
      const std::size_t before = decoded_.size();
      tree::make_room(decoded_, before + bound);
      decoded_.resize(before + bound);
      char* const out = decoded_.data() + before;
      decoded_.resize(before + static_cast<std::size_t>(write(out) - out));
      used_ += static_cast<std::uint32_t>(decoded_.size() - before);
    } else {
      char* const out = doc_.chars_.data() + offset;
      used_ += static_cast<std::uint32_t>(write(out) - out);
    }
    return {offset, used_ - offset};
  }

  // Room for `bytes` more: in the store itself when copying; in place, only
  // the 32-bit offsets bound what decoded texts add after the input.
  void make_room(std::size_t bytes) {
    if (bytes > kMaxChars - used_) throw std::length_error(detail::store_full());
    if (!in_place_ && bytes > doc_.chars_.size() - used_) [[unlikely]] grow(bytes);
  }

  [[gnu::noinline]] void grow(std::size_t bytes) {
    const std::size_t size = std::min(kMaxChars, std::max(2 * doc_.chars_.size(), used_ + bytes));
    tree::make_room(doc_.chars_, size);
    doc_.chars_.resize(size);
  }

  static constexpr std::size_t kMaxChars = UINT32_MAX;

  const bool in_place_ = false;
  Document doc_;
  std::uint32_t used_ = 0;  // bytes of the store taken, decoded_ included
  std::string decoded_;     // in place: decoded texts, to follow the input
  // In place: the end of the furthest piece kept so far, before which no
  // text is decoded over the input.
  std::uint32_t placed_end_ = 0;
};

}  // namespace detail

namespace {

using detail::ReadError;

// A start or empty-element tag, read.
struct Tag {
  std::string_view name;  // local name
  bool empty_element = false;
  bool quoted_name = false;  // the name holds an apostrophe or a double quote
  std::size_t end = 0;  // its '>'
};

constexpr std::string_view kCommentOpen = "<!--";
constexpr std::string_view kCdataOpen = "<![CDATA[";
constexpr std::string_view kCdataClose = "]]>";

struct Attribute {
  std::string_view key;  // local name
  std::string_view raw_value;
  bool plain = false;  // nothing in raw_value to decode
};

class Reader {
 public:
  explicit Reader(std::string_view text) : build_(text), text_(text) {}
  // Reads the text in place (see Builder).
  explicit Reader(std::string&& text) : build_(std::move(text)), text_(build_.input()) {}

  std::expected<Document, std::string> read() {
    const std::size_t size = text_.size();
    std::size_t lt = find_byte(text_, 0, '<');
    while (lt != std::string_view::npos) {
      const char next = lt + 1 < size ? text_[lt + 1] : '\0';
      if (next == '?' || next == '!') {
        auto after = skip_markup(lt);
        if (!after) return fail(after.error());
        lt = next_tag(*after);
        continue;
      }
      if (next == '/') {
        if (const std::size_t gt = closes_open_element(lt); gt != std::string_view::npos) {
          build_.close(open_);
          open_ = build_.parent(open_);
          lt = next_tag(gt + 1);
          continue;
        }
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
          lt = next_tag(tag.end + 1);
          continue;
        }
        read_tag(inner, tag);
      } else if (next == '/') {
        if (auto error = close(tag.name)) return std::unexpected(std::move(*error));
        lt = next_tag(tag.end + 1);
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

  // The '>' of the end tag at text_[lt] when it is exactly "</" and the open
  // element's name and ">", which nearly every end tag is; else npos. The
  // general reading would give the same close: a stored name holds no white
  // space and no ':' to trim or cut, and unless it holds a quote the tag's
  // first '>' is the one after it. Names with quotes come only from the
  // general reading and are counted while open, and then this waits.
  std::size_t closes_open_element(std::size_t lt) const {
    if (open_ == kNone || open_quoted_names_ != 0) return std::string_view::npos;
    const std::string_view name = build_.name(open_);
    const std::size_t gt = lt + 2 + name.size();
    if (gt >= text_.size() || text_[gt] != '>' ||
        std::memcmp(text_.data() + lt + 2, name.data(), name.size()) != 0) {
      return std::string_view::npos;
    }
    return gt;
  }

  // Where the markup at text_[lt] ("<?" or "<!") ends: just after a whole
  // instruction, comment, CDATA section or DOCTYPE declaration, whose content
  // means nothing here. Any other "<!" is passed over by its '<' alone.
  std::expected<std::size_t, ReadError> skip_markup(std::size_t lt) const {
    const std::string_view rest = text_.substr(lt);
    auto past = [this](std::size_t from, std::string_view close, ReadError error)
        -> std::expected<std::size_t, ReadError> {
      const std::size_t at = text_.find(close, from);
      if (at == std::string_view::npos) return std::unexpected(error);
      return at + close.size();
    };
    if (rest[1] == '?') return past(lt + 2, "?>", ReadError::unterminated_instruction);
    if (rest.starts_with(kCommentOpen)) {
      return past(lt + kCommentOpen.size(), "-->", ReadError::unterminated_comment);
    }
    if (rest.starts_with(kCdataOpen)) {
      return past(lt + kCdataOpen.size(), kCdataClose, ReadError::unterminated_cdata);
    }
    if (rest.starts_with("<!DOCTYPE")) return skip_doctype(lt + 9);
    return lt + 1;
  }

  // Past the '>' that ends a DOCTYPE declaration, from just after its
  // keyword: quoted literals and an internal subset in brackets (with its own
  // literals, comments and instructions) may hold '>' and ']'.
  std::expected<std::size_t, ReadError> skip_doctype(std::size_t i) const {
    bool subset = false;
    while (i < text_.size()) {
      const char c = text_[i];
      if (c == '"' || c == '\'') {
        i = text_.find(c, i + 1);
        if (i == std::string_view::npos) break;
      } else if (subset && c == '<' && text_.substr(i).starts_with(kCommentOpen)) {
        i = text_.find("-->", i + kCommentOpen.size());
        if (i == std::string_view::npos) break;
        i += 2;
      } else if (subset && c == '<' && text_.substr(i).starts_with("<?")) {
        i = text_.find("?>", i + 2);
        if (i == std::string_view::npos) break;
        i += 1;
      } else if (c == '[') {
        subset = true;
      } else if (c == ']') {
        subset = false;
      } else if (c == '>' && !subset) {
        return i + 1;
      }
      ++i;
    }
    return std::unexpected(ReadError::unterminated_doctype);
  }

  // The text of an element whose first run goes on through CDATA sections:
  // the stretches between them decoded, the sections' content as written,
  // all joined. Gives the '<' that ends the run, or npos.
  std::expected<std::size_t, std::string> joined_run(std::size_t from, std::uint32_t element) {
    std::string& joined = joined_;
    joined.clear();
    std::size_t i = from;
    for (;;) {
      const std::size_t lt = find_byte(text_, i, '<');
      const std::string_view stretch = text_.substr(i, lt == std::string_view::npos ? lt : lt - i);
      const std::size_t before = joined.size();
      joined.resize(before + stretch.size());
      char* const out = joined.data() + before;
      joined.resize(before + static_cast<std::size_t>(write_decoded<Decoding::text>(stretch, out) - out));
      if (lt == std::string_view::npos || !text_.substr(lt).starts_with(kCdataOpen)) {
        if (!is_blank(joined)) build_.decoded_text(element, joined);
        return lt;
      }
      const std::size_t content = lt + kCdataOpen.size();
      const std::size_t close = text_.find(kCdataClose, content);
      if (close == std::string_view::npos) return fail(ReadError::unterminated_cdata);
      const std::size_t at = joined.size();
      joined.resize(at + close - content);
      char* const section = joined.data() + at;
      joined.resize(at + static_cast<std::size_t>(
                             write_decoded<Decoding::cdata>(text_.substr(content, close - content),
                                                            section) -
                             section));
      i = close + kCdataClose.size();
    }
  }

  // The next '<' at or after `from`, or npos; in dense markup it is the very
  // next byte.
  std::size_t next_tag(std::size_t from) const {
    if (from < text_.size() && text_[from] == '<') return from;
    return find_byte(text_, from, '<');
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
    const PlainRun name = scan_plain(p, end);
    if (name.end == p) return false;
    p = name.end;
    tag.name = std::string_view(name.local, static_cast<std::size_t>(p - name.local));
    if (end_tag) {
      if (p == end || *p != '>') return false;
      tag.end = static_cast<std::size_t>(p - begin);
      return true;
    }
    attributes_.clear();
    // "<name>" and "<name/>", the commonest start tags.
    if (p < end && *p == '>') {
      tag.end = static_cast<std::size_t>(p - begin);
      return true;
    }
    if (end - p >= 2 && p[0] == '/' && p[1] == '>') {
      tag.empty_element = true;
      tag.end = static_cast<std::size_t>(p + 1 - begin);
      return true;
    }
    bool after_name = true;
    for (;;) {
      const char* gap = p;
      while (p < end && (class_of(*p) & kSpace)) ++p;
      if (p == end) return false;
      if (class_of(*p) & kPlain) {
        if (after_name && p == gap) return false;
        after_name = false;
        const PlainRun key = scan_plain(p, end);
        p = key.end;
        while (p < end && (class_of(*p) & kSpace)) ++p;
        if (p == end || *p != '=') return false;
        ++p;
        while (p < end && (class_of(*p) & kSpace)) ++p;
        if (p == end || (*p != '\'' && *p != '"')) return false;
        bool plain;
        const char* close = find_value_end(p + 1, end, *p, plain);
        if (close == nullptr) return false;
        const auto key_length = static_cast<std::size_t>(key.end - key.local);
        attributes_.push_back({std::string_view(key.local, key_length),
                               std::string_view(p + 1, static_cast<std::size_t>(close - p - 1)),
                               plain});
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
    tag.quoted_name = has_quote(tag.name);
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
    if (open_quoted_names_ != 0 && has_quote(open_name)) --open_quoted_names_;
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
    for (const Attribute& a : attributes_) build_.attribute(element, a.key, a.raw_value, a.plain);

    const std::size_t after = tag.end + 1;
    if (tag.empty_element) {  // the text after it is its parent's, and not kept
      build_.close(element);
      return next_tag(after);
    }
    const Run run = scan_run(text_, after);
    std::size_t lt = run.next_tag;
    const char next = lt != std::string_view::npos && lt + 1 < text_.size() ? text_[lt + 1] : '\0';
    if (next == '!' && text_.substr(lt).starts_with(kCdataOpen)) [[unlikely]] {
      auto end = joined_run(after, element);
      if (!end) return std::unexpected(std::move(end.error()));
      open_ = element;
      open_quoted_names_ += tag.quoted_name;
      return *end;
    }
    if (!run.blank) {
      const std::size_t end = lt == std::string_view::npos ? text_.size() : lt;
      build_.text(element, text_.substr(after, end - after), run.entities);
    }
    open_ = element;
    open_quoted_names_ += tag.quoted_name;
    // Most elements are leaves, "<name>text</name>": their end tag is taken
    // here, as the main loop would take it next.
    if (next == '/') {
      if (const std::size_t gt = closes_open_element(lt); gt != std::string_view::npos) {
        build_.close(open_);
        open_ = build_.parent(open_);
        return next_tag(gt + 1);
      }
    }
    return lt;
  }

  detail::Builder build_;  // before text_, which may view its store
  std::string_view text_;
  std::vector<Attribute> attributes_;  // of the tag being read, reused
  std::string joined_;                 // see joined_run, reused
  std::uint32_t root_ = kNone;
  // The innermost open element; the open stack is its chain of parents.
  std::uint32_t open_ = kNone;
  // Open elements whose names hold a quote (see closes_open_element).
  std::uint32_t open_quoted_names_ = 0;
};

}  // namespace

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

}  // namespace

std::expected<Document, std::string> parse_xml(std::string_view text) {
  // Stored texts are pieces of the input, so an input that fits the store's
  // 32-bit offsets can pass them only through overlapping pieces, which the
  // builder checks; nor can the records (each takes at least two bytes)
  // exhaust the 32-bit ids.
  if (text.size() >= UINT32_MAX) return std::unexpected(detail::message(ReadError::too_large));
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  return Reader(text).read();
}

std::expected<Document, std::string> parse_xml_in_place(std::string text) {
  if (text.size() >= UINT32_MAX) return std::unexpected(detail::message(ReadError::too_large));
  if (std::string_view(text).starts_with(kByteOrderMark)) text.erase(0, kByteOrderMark.size());
  return Reader(std::move(text)).read();
}

std::string_view local_name(std::string_view name) { return local_part(name); }

std::string decode_entities(std::string_view text) {
  std::string out(text.size(), '\0');
  out.resize(static_cast<std::size_t>(write_decoded<Decoding::entities>(text, out.data()) - out.data()));
  return out;
}

}  // namespace tovarn::tree
