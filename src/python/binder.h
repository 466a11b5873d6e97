#pragma once
// Argument binding and conversion for every callable that takes parameters,
// with this module's own TypeError texts (not those of PyArg_Parse*).

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "python/ref.h"

namespace tovarn::python {

inline constexpr std::size_t kMaxParams = 4;

// Parameters are positional-or-keyword; the first `required` of them must be
// given, the rest default to None.
struct Signature {
  std::string_view callable;  // full name: "eval_expression()", "Session.get()"
  std::span<const std::string_view> params;
  std::size_t required;
};

// One slot per parameter, empty where the caller gave nothing.
using Bound = std::array<Ref, kMaxParams>;

// Positional arguments fill from the left, then keywords in the caller's
// order. False with a TypeError set on the first check that fails.
[[nodiscard]] bool bind(const Signature& signature, PyObject* args, PyObject* kwargs, Bound& out);

// One conversion per kind of parameter; false with the error set. A TypeError
// raised here is restated as "argument '{}': {}" by `convert`.
[[nodiscard]] bool convert_one(PyObject* value, std::string& out);
[[nodiscard]] bool convert_one(PyObject* value, std::optional<std::string>& out);
[[nodiscard]] bool convert_one(PyObject* value, std::uint64_t& out);
// The str's own UTF-8, for a copy made once the lock is released: valid while
// the str lives (the bound arguments hold it), and a str never changes.
[[nodiscard]] bool convert_one(PyObject* value, std::string_view& out);
[[nodiscard]] bool convert_one(PyObject* value, std::optional<std::string_view>& out);

// Replaces a pending exception of exactly TypeError by one naming the
// parameter, keeping its cause; any other exception stays as it is.
void restate_type_error(std::string_view param);

// Converts the bound arguments in parameter order into `outs`, one per
// parameter. False with the error set at the first that fails.
template <class... T>
[[nodiscard]] bool convert(const Signature& signature, const Bound& bound, T&... outs) {
  static_assert(sizeof...(T) <= kMaxParams);
  std::size_t i = 0;
  auto one = [&](auto& out) {
    const std::size_t index = i++;
    if (convert_one(bound[index].get(), out)) return true;
    restate_type_error(signature.params[index]);
    return false;
  };
  return (one(outs) && ...);
}

}  // namespace tovarn::python
