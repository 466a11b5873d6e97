#include <cstdint>
#include <cstring>

#include "tree/detail/messages.h"
#include "tree/xml.h"
#include "unicode/unicode.h"

namespace tovarn::tree {
namespace {

using detail::ReadError;

// Byte classes for the scans: ASCII white space, and the bytes that stop the
// search for a tag's closing '>'.
enum : std::uint8_t { kSpace = 1, kTagStop = 2, kWide = 4 };

constexpr auto kClasses = [] {
  struct Table {
    std::uint8_t at[256] = {};
  } t;
  for (unsigned char c : {'\t', '\n', '\v', '\f', '\r', ' '}) t.at[c] |= kSpace;
  for (unsigned char c : {'>', '\'', '"'}) t.at[c] |= kTagStop;
  for (int c = 0x80; c < 0x100; ++c) t.at[c] |= kWide;
  return t;
}();

std::uint8_t class_of(char c) { return kClasses.at[static_cast<unsigned char>(c)]; }

// The White_Space character starting at text[i], if one does: its length.
std::size_t white_space_at(std::string_view text, std::size_t i) {
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
    if (k & kSpace) return i;
    if (!(k & kWide)) {
      ++i;
      continue;
    }
    std::size_t next = i;
    if (unicode::is_white_space(unicode::decode(text, next))) return i;
    i = next;
  }
  return text.size();
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

// Where a tag opened at text[open] ends: the first '>' outside quotes, or npos.
std::size_t tag_end(std::string_view text, std::size_t open) {
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const char* p = begin + open + 1;
  for (;;) {
    while (p < end && !(class_of(*p) & kTagStop)) ++p;
    if (p == end) return std::string_view::npos;
    if (*p == '>') return static_cast<std::size_t>(p - begin);
    const void* close = std::memchr(p + 1, *p, static_cast<std::size_t>(end - p - 1));
    if (close == nullptr) return std::string_view::npos;
    p = static_cast<const char*>(close) + 1;
  }
}

bool contains_ampersand(std::string_view text) {
  return std::memchr(text.data(), '&', text.size()) != nullptr;
}

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  std::expected<Document, std::string> read() {
    // Estimate: a tag per ~24 bytes of a typical form; a wrong guess costs a
    // regrowth, nothing more.
    doc_.reserve(text_.size() / 24 + 1, text_.size() / 2);
    std::size_t i = 0;
    const std::size_t size = text_.size();
    while (i < size) {
      const void* lt = std::memchr(text_.data() + i, '<', size - i);
      if (lt == nullptr) break;
      i = static_cast<std::size_t>(static_cast<const char*>(lt) - text_.data());
      if (i + 1 < size && (text_[i + 1] == '?' || text_[i + 1] == '!')) {
        ++i;
        continue;
      }
      const std::size_t gt = tag_end(text_, i);
      if (gt == std::string_view::npos) return fail(ReadError::unterminated_tag);
      const std::string_view inner = text_.substr(i + 1, gt - i - 1);
      i = gt + 1;
      if (!inner.empty() && inner[0] == '/') {
        if (auto error = close(inner.substr(1))) return std::unexpected(std::move(*error));
      } else {
        if (auto error = open(inner, i)) return std::unexpected(std::move(*error));
      }
    }
    if (open_) return fail(ReadError::unclosed_elements);
    if (!root_) return fail(ReadError::no_root);
    doc_.set_root(*root_);
    doc_.reindex_document_order();
    return std::move(doc_);
  }

 private:
  static std::unexpected<std::string> fail(ReadError error) {
    return std::unexpected(detail::message(error));
  }

  std::optional<std::string> close(std::string_view rest) {
    const std::string_view name = local_name(unicode::trim(rest));
    if (!open_) return detail::message(ReadError::closing_without_opening);
    const std::string_view open_name = doc_.name(*open_);
    if (open_name != name) return detail::closing_mismatch(name, open_name);
    open_ = doc_.parent(*open_);
    return std::nullopt;
  }

  // A start or empty-element tag; `after` is the offset just past its '>'.
  std::optional<std::string> open(std::string_view inner, std::size_t after) {
    std::string_view body = inner;
    const bool empty_element = !body.empty() && body.back() == '/';
    while (!body.empty() && body.back() == '/') body.remove_suffix(1);

    const std::size_t name_begin = skip_white_space(body, 0);
    const std::size_t name_end = find_white_space(body, name_begin);
    const NodeId element =
        doc_.new_element(local_name(body.substr(name_begin, name_end - name_begin)), {});
    read_attributes(body, find_white_space(body, 0), element);

    if (open_) {
      doc_.append_child(*open_, element);
    } else if (!root_) {
      root_ = element;
    } else {
      return detail::message(ReadError::more_than_one_root);
    }
    if (empty_element) return std::nullopt;

    const void* lt = std::memchr(text_.data() + after, '<', text_.size() - after);
    const std::size_t run_end =
        lt ? static_cast<std::size_t>(static_cast<const char*>(lt) - text_.data()) : text_.size();
    const std::string_view run = text_.substr(after, run_end - after);
    if (!is_blank(run)) {
      if (contains_ampersand(run)) {
        doc_.set_text(element, decode_entities(run));
      } else {
        doc_.set_text(element, run);
      }
    }
    open_ = element;
    return std::nullopt;
  }

  void read_attributes(std::string_view body, std::size_t i, NodeId element) {
    while (i < body.size()) {
      const std::size_t eq = body.find('=', i);
      if (eq == std::string_view::npos) return;
      const std::string_view key = unicode::trim(body.substr(i, eq - i));
      const std::size_t q = skip_white_space(body, eq + 1);
      if (q >= body.size() || (body[q] != '\'' && body[q] != '"')) return;
      const std::size_t close = body.find(body[q], q + 1);
      if (close == std::string_view::npos) return;
      if (!key.empty()) {
        const std::string_view value = body.substr(q + 1, close - q - 1);
        if (contains_ampersand(value)) {
          doc_.add_attribute(element, local_name(key), decode_entities(value));
        } else {
          doc_.add_attribute(element, local_name(key), value);
        }
      }
      i = close + 1;
    }
  }

  std::string_view text_;
  Document doc_;
  std::optional<NodeId> root_;
  // The innermost open element; the open stack is its chain of parents.
  std::optional<NodeId> open_;
};

}  // namespace

std::expected<Document, std::string> parse_xml(std::string_view text) {
  // Every stored text is a piece of the input, so an input that fits the
  // store's 32-bit offsets cannot overflow them while it is read.
  if (text.size() >= UINT32_MAX) return std::unexpected(detail::message(ReadError::too_large));
  return Reader(text).read();
}

std::string_view local_name(std::string_view name) {
  const std::size_t colon = name.rfind(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

std::string decode_entities(std::string_view text) {
  // The five replacements in their order of passes come to one left-to-right
  // pass: each entity starts with '&', ends with ';' and holds neither inside,
  // so no two occurrences overlap, and no replacement character is part of a
  // later entity. Only "&amp;" is last: "&amp;lt;" gives "&lt;".
  static constexpr struct {
    std::string_view entity;
    char replacement;
  } kEntities[] = {{"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}, {"&amp;", '&'}};
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t amp = text.find('&', i);
    if (amp == std::string_view::npos) break;
    out.append(text, i, amp - i);
    i = amp;
    bool replaced = false;
    for (const auto& e : kEntities) {
      if (text.substr(i).starts_with(e.entity)) {
        out += e.replacement;
        i += e.entity.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) {
      out += '&';
      ++i;
    }
  }
  out.append(text, i);
  return out;
}

}  // namespace tovarn::tree
