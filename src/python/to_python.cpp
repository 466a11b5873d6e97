#include "python/to_python.h"

#include <array>
#include <functional>
#include <vector>

namespace tovarn::python {
namespace {

// Sets dict[key] = value, consuming the value; false with the error set.
bool set_item(PyObject* dict, const char* key, Ref value) {
  return value && PyDict_SetItemString(dict, key, value.get()) == 0;
}

}  // namespace

Ref to_python(std::string_view text) {
  return Ref::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

Ref to_python(std::uint64_t count) { return Ref::steal(PyLong_FromUnsignedLongLong(count)); }

Ref to_python(std::monostate) { return Ref::borrow(Py_None); }

Ref to_python(const std::pair<std::string, std::string>& pair) {
  Ref first = to_python(pair.first);
  if (!first) return {};
  Ref second = to_python(pair.second);
  if (!second) return {};
  Ref tuple = Ref::steal(PyTuple_New(2));
  if (!tuple) return {};
  PyTuple_SetItem(tuple.get(), 0, first.release());   // steals
  PyTuple_SetItem(tuple.get(), 1, second.release());  // steals
  return tuple;
}

Ref to_python(const Record& record) {
  Ref dict = Ref::steal(PyDict_New());
  if (!dict) return {};
  for (const Record::Field& field : record.fields) {
    Ref key = to_python(field.key);
    if (!key) return {};
    Ref value = to_python(field.value);
    if (!value || PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) return {};
  }
  return dict;
}

Ref to_python(SharedRecords&& records) {
  if (records.values.empty()) return Ref::steal(PyList_New(0));
  std::vector<Ref> keys;
  keys.reserve(records.keys.size());
  for (const std::string_view key : records.keys) {
    keys.push_back(to_python(key));
    if (!keys.back()) return {};
  }
  std::vector<Ref> texts;
  texts.reserve(records.texts.size());
  for (std::string& text : records.texts) {
    texts.push_back(to_python(text));
    if (!texts.back()) return {};
    std::string().swap(text);
  }
  const std::size_t width = keys.size();
  const std::size_t count = width == 0 ? 0 : records.values.size() / width;
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(count)));
  if (!list) return {};
  for (std::size_t i = 0; i < count; ++i) {
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return {};
    for (std::size_t k = 0; k < width; ++k) {
      const std::size_t value = records.values[i * width + k];
      PyObject* object = value == SharedRecords::kNone ? Py_None : texts[value].get();
      if (PyDict_SetItem(dict.get(), keys[k].get(), object) < 0) return {};
    }
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), dict.release());  // steals
  }
  return list;
}

Ref to_python(const RecomputeReport& report) {
  // A calculated node is also bound, so most of its paths are relevance
  // paths too: both maps ascend, and a walk in step makes each such path one
  // str in both dicts, not two on a large result's fresh memory.
  std::vector<Ref> calculated_keys;
  calculated_keys.reserve(report.calculated.size());
  Ref calculated = Ref::steal(PyDict_New());
  if (!calculated) return {};
  // Calculated values repeat (flags, categories, constants): a small table of
  // the latest str of each hash slot hands a repeat the same str.
  struct Made {
    std::string_view text;
    PyObject* str = nullptr;  // borrowed: the dict holds it
  };
  std::array<Made, 256> made{};
  for (const auto& [path, value] : report.calculated) {
    calculated_keys.push_back(to_python(path));
    Made& slot = made[std::hash<std::string_view>{}(value) % made.size()];
    Ref v = slot.str && slot.text == value ? Ref::borrow(slot.str) : to_python(value);
    if (v) slot = {value, v.get()};
    if (!calculated_keys.back() || !v ||
        PyDict_SetItem(calculated.get(), calculated_keys.back().get(), v.get()) < 0) {
      return {};
    }
  }
  Ref relevant = Ref::steal(PyDict_New());
  if (!relevant) return {};
  auto shared = report.calculated.begin();
  std::size_t k = 0;
  for (const auto& [path, truth] : report.relevant) {
    while (shared != report.calculated.end() && shared->first < path) ++shared, ++k;
    Ref key = shared != report.calculated.end() && shared->first == path
                  ? Ref::borrow(calculated_keys[k].get())
                  : to_python(path);
    if (!key || PyDict_SetItem(relevant.get(), key.get(), truth ? Py_True : Py_False) < 0) return {};
  }
  calculated_keys.clear();
  Ref dict = Ref::steal(PyDict_New());
  if (!dict) return {};
  if (!set_item(dict.get(), "calculated", std::move(calculated)) ||
      !set_item(dict.get(), "relevant", std::move(relevant)) ||
      !set_item(dict.get(), "missing", to_python(report.missing)) ||
      !set_item(dict.get(), "invalid", to_python(report.invalid)) ||
      !set_item(dict.get(), "failed", to_python(report.failed)) ||
      !set_item(dict.get(), "repeats", to_python(report.repeats))) {
    return {};
  }
  return dict;
}

}  // namespace tovarn::python
