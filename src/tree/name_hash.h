#pragma once
// A quick hash of a child's name and its parent's id, and a comparison of
// short texts, for the tables that find children by name and for `=`.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tovarn::tree {

// Reads the length and up to eight bytes at each end: the names of one
// parent mostly differ near an end ("q1", "q2", "dob_day", "dob_month"), and
// the comparison that confirms a match reads the bytes between. A table
// takes the high bits, or all of them masked: both are mixed.
inline std::uint32_t child_name_hash(std::uint32_t parent, std::string_view name) {
  const std::size_t n = name.size();
  const char* p = name.data();
  std::uint64_t head = 0;
  std::uint64_t tail = 0;
  if (n >= 8) {
    std::memcpy(&head, p, 8);
    std::memcpy(&tail, p + n - 8, 8);
  } else if (n >= 4) {
    std::uint32_t a = 0;
    std::uint32_t b = 0;
    std::memcpy(&a, p, 4);
    std::memcpy(&b, p + n - 4, 4);
    head = a;
    tail = b;
  } else if (n > 0) {
    head = static_cast<unsigned char>(p[0]) | static_cast<unsigned char>(p[n / 2]) << 8 |
           static_cast<unsigned char>(p[n - 1]) << 16;
  }
  std::uint64_t h = (head ^ (static_cast<std::uint64_t>(parent) << 32 | n)) * 0x9E3779B97F4A7C15u;
  h = (h ^ (h >> 29) ^ tail) * 0xBF58476D1CE4E5B9u;
  return static_cast<std::uint32_t>(h >> 32);
}

// A short text held for comparing texts with it: names and answers are
// mostly short, and two loads of a word from each end settle them where a
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
  static std::uint64_t load(const char* p, std::size_t width) {
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

// The comparison the name tables confirm a hash match with.
inline bool same_name(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ShortText(a).same(b.data());
}

}  // namespace tovarn::tree
