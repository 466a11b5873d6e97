// The class Session: its type, the object layout with the borrow flag, and
// binding, borrowing and conversion around the bodies of its methods.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <new>
#include <string_view>
#include <type_traits>

#include "python/binder.h"
#include "python/frame.h"
#include "python/guard.h"
#include "python/interrupt.h"
#include "python/messages.h"
#include "python/sources.h"

namespace tovarn::python {
namespace {

struct State {
  SessionRecord record;
  // 0: free; n > 0: n shared borrows; -1: the exclusive borrow.
  std::atomic<std::int64_t> borrow_flag{0};
};

// The object is a plain header and raw storage, so its layout stays standard
// whatever the record holds; the state is constructed in place.
struct SessionObject {
  PyObject ob_base;
  alignas(State) unsigned char storage[sizeof(State)];
};

// The object is allocated before the record moves in; a throwing move would
// leave an object without state.
static_assert(std::is_nothrow_move_constructible_v<SessionRecord>);

State* storage_of(PyObject* self) {
  return reinterpret_cast<State*>(reinterpret_cast<SessionObject*>(self)->storage);
}
State& state_of(PyObject* self) { return *std::launder(storage_of(self)); }

// A borrow lasts for one call and is given back on every exit, faults
// included. A refused borrow raises RuntimeError at once; nothing waits.
class SharedBorrow {
 public:
  explicit SharedBorrow(PyObject* self) : state_(&state_of(self)) {
    std::int64_t n = state_->borrow_flag.load();
    do {
      if (n < 0) {
        state_ = nullptr;
        set_error(PyExc_RuntimeError, msg::text(msg::Text::already_mutably_borrowed));
        return;
      }
    } while (!state_->borrow_flag.compare_exchange_weak(n, n + 1));
  }
  SharedBorrow(const SharedBorrow&) = delete;
  SharedBorrow& operator=(const SharedBorrow&) = delete;
  ~SharedBorrow() {
    if (state_ != nullptr) state_->borrow_flag.fetch_sub(1);
  }
  explicit operator bool() const { return state_ != nullptr; }
  const SessionRecord& record() const { return state_->record; }

 private:
  State* state_;
};

class ExclusiveBorrow {
 public:
  explicit ExclusiveBorrow(PyObject* self) : state_(&state_of(self)) {
    std::int64_t free = 0;
    if (!state_->borrow_flag.compare_exchange_strong(free, -1)) {
      state_ = nullptr;
      set_error(PyExc_RuntimeError, msg::text(msg::Text::already_borrowed));
    }
  }
  ExclusiveBorrow(const ExclusiveBorrow&) = delete;
  ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;
  ~ExclusiveBorrow() {
    if (state_ != nullptr) state_->borrow_flag.store(0);
  }
  explicit operator bool() const { return state_ != nullptr; }
  SessionRecord& record() const { return state_->record; }

 private:
  State* state_;
};

constexpr std::array<std::string_view, 4> kNewParams = {"form", "instance", "today", "now"};
constexpr Signature kNew = {"Session.__new__()", kNewParams, 1};
constexpr std::array<std::string_view, 2> kSetParams = {"path", "value"};
constexpr Signature kSet = {"Session.set()", kSetParams, 2};
constexpr std::array<std::string_view, 1> kPathParams = {"path"};
constexpr Signature kGet = {"Session.get()", kPathParams, 1};
constexpr Signature kAddRow = {"Session.add_row()", kPathParams, 1};
constexpr std::array<std::string_view, 2> kRemoveRowParams = {"path", "position"};
constexpr Signature kRemoveRow = {"Session.remove_row()", kRemoveRowParams, 2};
constexpr Signature kChoices = {"Session.choices()", kPathParams, 1};

// Session methods keep the lock, which their borrows rely on, and are watched
// all the same.
template <class Body>
Ref deliver_watched(Body&& body) {
  auto outcome = watched(body);
  if (!outcome) return {};
  return deliver(std::move(*outcome));
}

PyObject* new_entry(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guard([&]() -> Ref {
    Bound bound;
    std::string form;
    std::optional<std::string> instance, today, now;
    if (!bind(kNew, args, kwargs, bound) || !convert(kNew, bound, form, instance, today, now)) {
      return {};
    }
    const bool long_call = instance ? known_long({form, *instance}) : known_long({form});
    auto built = watched_without_lock(long_call, [&] {
      return session_new(std::move(form), std::move(instance), std::move(today), std::move(now));
    });
    if (!built) return {};
    auto& record = *built;
    if (!record) {
      raise_failure(record.error());
      return {};
    }
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    Ref object = Ref::steal(alloc(type, 0));
    if (!object) return {};
    std::construct_at(storage_of(object.get()), std::move(*record));
    return object;
  });
}

void dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  std::destroy_at(&state_of(self));
  auto free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free(self);
  Py_DECREF(type);
}

PyObject* set_entry(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guard([&]() -> Ref {
    Bound bound;
    if (!bind(kSet, args, kwargs, bound)) return {};
    ExclusiveBorrow borrow(self);
    std::string path, value;
    if (!borrow || !convert(kSet, bound, path, value)) return {};
    return deliver_watched([&] { return session_set(borrow.record(), std::move(path), std::move(value)); });
  });
}

PyObject* get_entry(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guard([&]() -> Ref {
    Bound bound;
    if (!bind(kGet, args, kwargs, bound)) return {};
    SharedBorrow borrow(self);
    std::string path;
    if (!borrow || !convert(kGet, bound, path)) return {};
    return deliver_watched([&] { return session_get(borrow.record(), std::move(path)); });
  });
}

PyObject* add_row_entry(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guard([&]() -> Ref {
    Bound bound;
    if (!bind(kAddRow, args, kwargs, bound)) return {};
    ExclusiveBorrow borrow(self);
    std::string path;
    if (!borrow || !convert(kAddRow, bound, path)) return {};
    return deliver_watched([&] { return session_add_row(borrow.record(), std::move(path)); });
  });
}

PyObject* remove_row_entry(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guard([&]() -> Ref {
    Bound bound;
    if (!bind(kRemoveRow, args, kwargs, bound)) return {};
    ExclusiveBorrow borrow(self);
    std::string path;
    std::uint64_t position = 0;
    // Converting `position` may run the caller's __index__ under the borrow.
    if (!borrow || !convert(kRemoveRow, bound, path, position)) return {};
    return deliver_watched([&] { return session_remove_row(borrow.record(), std::move(path), position); });
  });
}

PyObject* recompute_entry(PyObject* self, PyObject*) {
  return guard([&]() -> Ref {
    ExclusiveBorrow borrow(self);
    if (!borrow) return {};
    return deliver_watched([&] { return session_recompute(borrow.record()); });
  });
}

PyObject* choices_entry(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guard([&]() -> Ref {
    Bound bound;
    if (!bind(kChoices, args, kwargs, bound)) return {};
    SharedBorrow borrow(self);
    std::string path;
    if (!borrow || !convert(kChoices, bound, path)) return {};
    return deliver_watched([&] { return session_choices(borrow.record(), std::move(path)); });
  });
}

PyObject* instance_xml_entry(PyObject* self, PyObject*) {
  return guard([&]() -> Ref {
    SharedBorrow borrow(self);
    if (!borrow) return {};
    return deliver(session_instance_xml(borrow.record()));
  });
}

PyObject* repr_entry(PyObject* self) {
  return guard([&]() -> Ref {
    SharedBorrow borrow(self);
    if (!borrow) return {};
    return deliver(session_repr(borrow.record()));
  });
}

PyMethodDef methods[] = {
    {"set", as_method(set_entry), METH_VARARGS | METH_KEYWORDS,
     "set($self, path, value)\n--\n\nAnswer a question."},
    {"get", as_method(get_entry), METH_VARARGS | METH_KEYWORDS,
     "get($self, path)\n--\n\nThe current answer, or the empty string."},
    {"add_row", as_method(add_row_entry), METH_VARARGS | METH_KEYWORDS,
     "add_row($self, path)\n--\n\nAdd a row to a repeat; returns how many there are now."},
    {"remove_row", as_method(remove_row_entry), METH_VARARGS | METH_KEYWORDS,
     "remove_row($self, path, position)\n--\n\nRemove one row, counted from 1 as XPath counts."},
    {"recompute", as_method(recompute_entry), METH_NOARGS,
     "recompute($self)\n--\n\n"
     "Run the form's logic and apply what it derives.\n\n"
     "Returns what is asked, what was calculated (only where it changed),\n"
     "what is missing, what was rejected, and how many rows each repeat\n"
     "has."},
    {"choices", as_method(choices_entry), METH_VARARGS | METH_KEYWORDS,
     "choices($self, path)\n--\n\n"
     "The choices a filtered question offers right now, or `None` when its\n"
     "list is fixed.\n\n"
     "A question in a repeat is named with its row, as /data/rep[2]/q, and\n"
     "its list reads that row."},
    {"instance_xml", as_method(instance_xml_entry), METH_NOARGS,
     "instance_xml($self)\n--\n\nThe instance as it would be submitted."},
    {nullptr, nullptr, 0, nullptr},
};

// The class name, its text signature and its text, in the interpreter's
// "{name}{signature}\n--\n\n{text}" convention.
constexpr char kDoc[] =
    "Session"
    "(form, instance=None, today=None, now=None)"
    "\n--\n\n"
    "A form being filled in.\n\n"
    "Holds the instance, applies what the form derives, and reports what\n"
    "moved. The same engine that judges the submission when it arrives, so a\n"
    "form cannot behave one way while it is being filled and another way\n"
    "afterwards.";

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(kDoc)},
    {Py_tp_new, reinterpret_cast<void*>(new_entry)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(repr_entry)},
    {Py_tp_methods, methods},
    {0, nullptr},
};

// No module name, so the class reports "builtins"; final, and without GC,
// instance dict or weak references, since it holds no Python objects.
PyType_Spec type_spec = {
    .name = "builtins.Session",
    .basicsize = static_cast<int>(sizeof(SessionObject)),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = slots,
};

}  // namespace

Ref new_session_type() { return Ref::steal(PyType_FromSpec(&type_spec)); }

}  // namespace tovarn::python
