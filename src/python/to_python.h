#pragma once
// Results as Python objects: each text a str (equal paths and values of a
// recompute may share one), each count an int, each truth value a bool,
// absence None, lists in order, pairs as 2-tuples, maps as dicts filled in
// ascending key order; shared records make each of their texts one str. An
// empty Ref means the error is set.

#include <Python.h>

#include <concepts>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "python/entry.h"
#include "python/ref.h"

namespace tovarn::python {

Ref to_python(std::string_view text);
Ref to_python(std::uint64_t count);
Ref to_python(std::monostate);
Ref to_python(const std::pair<std::string, std::string>& pair);
Ref to_python(const Record& record);
// Empties each text once it is a str, so the two copies of a large result
// never coexist.
Ref to_python(SharedRecords&& records);
Ref to_python(const RecomputeReport& report);

// A template, so that a pointer or an integer never converts to bool silently.
template <std::same_as<bool> Bool>
Ref to_python(Bool truth) {
  return Ref::borrow(truth ? Py_True : Py_False);
}

template <class T>
Ref to_python(const std::optional<T>& value) {
  return value ? to_python(*value) : Ref::borrow(Py_None);
}

template <class T>
Ref to_python(const std::vector<T>& items) {
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(items.size())));
  if (!list) return {};
  for (std::size_t i = 0; i < items.size(); ++i) {
    Ref item = to_python(items[i]);
    if (!item) return {};
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item.release());  // steals
  }
  return list;
}

template <class T>
Ref to_python(const std::map<std::string, T>& entries) {
  Ref dict = Ref::steal(PyDict_New());
  if (!dict) return {};
  for (const auto& [key, value] : entries) {
    Ref k = to_python(key);
    if (!k) return {};
    Ref v = to_python(value);
    if (!v || PyDict_SetItem(dict.get(), k.get(), v.get()) < 0) return {};
  }
  return dict;
}

}  // namespace tovarn::python
