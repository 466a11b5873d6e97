#pragma once
// A quick hash of a child's name and its parent's id, and a comparison of
// names, for the tables that find children by name.

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

// Names are short: up to 16 bytes, two overlapping loads from each end
// compare them without the call into memcmp.
inline bool same_name(std::string_view a, std::string_view b) {
  const std::size_t n = a.size();
  if (n != b.size()) return false;
  const char* p = a.data();
  const char* q = b.data();
  auto same = [&](std::size_t at, auto width) {
    decltype(width) x;
    decltype(width) y;
    std::memcpy(&x, p + at, sizeof x);
    std::memcpy(&y, q + at, sizeof y);
    return x == y;
  };
  if (n >= 8) {
    if (n > 16) return std::memcmp(p, q, n) == 0;
    return same(0, std::uint64_t{}) && same(n - 8, std::uint64_t{});
  }
  if (n >= 4) return same(0, std::uint32_t{}) && same(n - 4, std::uint32_t{});
  for (std::size_t i = 0; i < n; ++i) {
    if (p[i] != q[i]) return false;
  }
  return true;
}

}  // namespace tovarn::tree
