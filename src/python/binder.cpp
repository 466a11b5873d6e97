#include "python/binder.h"

#include <vector>

#include "python/exceptions.h"
#include "python/messages.h"

namespace tovarn::python {
namespace {

bool fail(std::string message) {
  set_error(PyExc_TypeError, message);
  return false;
}

// The UTF-8 text of a keyword, or nullopt with the error set.
std::optional<std::string_view> utf8_of(PyObject* text) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text, &size);
  if (data == nullptr) return std::nullopt;
  return std::string_view(data, static_cast<std::size_t>(size));
}

// A keyword's UTF-8 with any lone surrogates kept as their three bytes, which
// the exception's text then shows as replacement characters: a keyword that
// cannot be encoded still names no parameter.
std::string lossy_utf8_of(PyObject* text) {
  Ref bytes = Ref::steal(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass"));
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (!bytes || PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) {
    PyErr_Clear();
    return "?";
  }
  return std::string(data, static_cast<std::size_t>(size));
}

// The qualified name of an object's type, as conversion errors show it.
std::string type_name_of(PyObject* object) {
  Ref name = Ref::steal(
      PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__qualname__"));
  if (name && PyUnicode_Check(name.get())) {
    if (auto text = utf8_of(name.get())) return std::string(*text);
  }
  PyErr_Clear();
  return "?";
}

}  // namespace

bool bind(const Signature& signature, PyObject* args, PyObject* kwargs, Bound& out) {
  const std::size_t params = signature.params.size();
  const std::size_t given = args != nullptr ? static_cast<std::size_t>(PyTuple_Size(args)) : 0;
  if (given > params) {
    return fail(signature.required == params
                    ? msg::takes_positional(signature.callable, params, given)
                    : msg::takes_from_to(signature.callable, signature.required, params, given));
  }
  for (std::size_t i = 0; i < given; ++i) {
    out[i] = Ref::borrow(PyTuple_GetItem(args, static_cast<Py_ssize_t>(i)));
  }

  if (kwargs != nullptr) {
    Py_ssize_t cursor = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &cursor, &key, &value)) {
      std::optional<std::string_view> keyword;
      if (PyUnicode_Check(key)) {
        keyword = utf8_of(key);
        if (!keyword) {
          PyErr_Clear();
          return fail(msg::unexpected_keyword(signature.callable, lossy_utf8_of(key)));
        }
      }
      std::size_t index = params;
      for (std::size_t i = 0; keyword && i < params; ++i) {
        if (signature.params[i] == *keyword) index = i;
      }
      if (index == params) {
        // Only a call through the C API can pass a key that is not a str.
        return fail(msg::unexpected_keyword(signature.callable,
                                            keyword ? *keyword : std::string_view("?")));
      }
      if (out[index]) return fail(msg::multiple_values(signature.callable, *keyword));
      out[index] = Ref::borrow(value);
    }
  }

  std::vector<std::string_view> missing;
  for (std::size_t i = 0; i < signature.required; ++i) {
    if (!out[i]) missing.push_back(signature.params[i]);
  }
  if (!missing.empty()) return fail(msg::missing_required(signature.callable, missing));
  return true;
}

bool convert_one(PyObject* value, std::string_view& out) {
  if (!PyUnicode_Check(value)) {
    set_error(PyExc_TypeError, msg::not_a_string(type_name_of(value)));
    return false;
  }
  auto text = utf8_of(value);  // a lone surrogate raises UnicodeEncodeError
  if (!text) return false;
  out = *text;
  return true;
}

bool convert_one(PyObject* value, std::optional<std::string_view>& out) {
  if (value == nullptr || value == Py_None) {
    out.reset();
    return true;
  }
  return convert_one(value, out.emplace());
}

bool convert_one(PyObject* value, std::string& out) {
  std::string_view text;
  if (!convert_one(value, text)) return false;
  out.assign(text);
  return true;
}

bool convert_one(PyObject* value, std::optional<std::string>& out) {
  if (value == nullptr || value == Py_None) {
    out.reset();
    return true;
  }
  return convert_one(value, out.emplace());
}

bool convert_one(PyObject* value, std::uint64_t& out) {
  Ref integer = PyLong_Check(value) ? Ref::borrow(value) : Ref::steal(PyNumber_Index(value));
  if (!integer) return false;
  const unsigned long long n = PyLong_AsUnsignedLongLong(integer.get());
  if (n == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
  out = n;
  return true;
}

void restate_type_error(std::string_view param) {
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  Ref old_type = Ref::steal(type);
  Ref old_value = Ref::steal(value);
  Ref old_traceback = Ref::steal(traceback);
  if (old_type.get() != PyExc_TypeError || !old_value) {
    PyErr_Restore(old_type.release(), old_value.release(), old_traceback.release());
    return;
  }
  Ref text = Ref::steal(PyObject_Str(old_value.get()));
  if (!text) return;
  auto inner = utf8_of(text.get());
  if (!inner) return;
  Ref replacement = new_exception(PyExc_TypeError, msg::argument_error(param, *inner));
  if (!replacement) return;
  PyException_SetCause(replacement.get(), PyException_GetCause(old_value.get()));  // steals
  PyErr_Restore(Ref::borrow(PyExc_TypeError).release(), replacement.release(), nullptr);
}

}  // namespace tovarn::python
