// The module functions: binding and conversion around their bodies.

#include <array>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "python/binder.h"
#include "python/frame.h"
#include "python/guard.h"
#include "python/interrupt.h"
#include "python/sources.h"
#include "tree/recycle.h"

namespace tovarn::python {
namespace {

// An argument's own copy, made into a buffer the thread kept from its last
// call: a large form faults no fresh pages, and, the lock being released at
// once for a large text, the copy holds up no other thread.
std::string owned(std::string_view text) {
  std::string out = tree::take_buffer<std::string>(text.size());
  out.assign(text);
  return out;
}

std::optional<std::string> owned(std::optional<std::string_view> text) {
  if (!text) return std::nullopt;
  return owned(*text);
}

constexpr std::array<std::string_view, 1> kCheckFormParams = {"form"};
constexpr Signature kCheckForm = {"check_form()", kCheckFormParams, 1};

constexpr std::array<std::string_view, 4> kSubmissionFindingsParams = {"form", "submission",
                                                                       "today", "now"};
constexpr Signature kSubmissionFindings = {"submission_findings()", kSubmissionFindingsParams, 2};

constexpr std::array<std::string_view, 4> kEvalExpressionParams = {"expression", "submission",
                                                                   "today", "now"};
constexpr Signature kEvalExpression = {"eval_expression()", kEvalExpressionParams, 2};

// Runs the engine's `work` on the buffers the thread kept, letting go of the
// lock at once for long sources and else at its first poll, and hands its
// outcome to Python.
template <class Work>
Ref run_engine(std::initializer_list<std::string_view> sources, Work work) {
  auto outcome = watched_without_lock(known_long(sources), [&] {
    tree::Recycling recycling;
    return work();
  });
  if (!outcome) return {};
  return deliver(std::move(*outcome));
}

PyObject* check_form_entry(PyObject*, PyObject* args, PyObject* kwargs) {
  return guard([&]() -> Ref {
    Bound bound;
    std::string_view form;
    if (!bind(kCheckForm, args, kwargs, bound) || !convert(kCheckForm, bound, form)) return {};
    return run_engine({form}, [&] { return check_form(owned(form)); });
  });
}

PyObject* submission_findings_entry(PyObject*, PyObject* args, PyObject* kwargs) {
  return guard([&]() -> Ref {
    Bound bound;
    std::string_view form, submission;
    std::optional<std::string_view> today, now;
    if (!bind(kSubmissionFindings, args, kwargs, bound) ||
        !convert(kSubmissionFindings, bound, form, submission, today, now)) {
      return {};
    }
    return run_engine({form, submission}, [&] {
      return submission_findings(owned(form), owned(submission), owned(today), owned(now));
    });
  });
}

PyObject* eval_expression_entry(PyObject*, PyObject* args, PyObject* kwargs) {
  return guard([&]() -> Ref {
    Bound bound;
    std::string_view expression, submission;
    std::optional<std::string_view> today, now;
    if (!bind(kEvalExpression, args, kwargs, bound) ||
        !convert(kEvalExpression, bound, expression, submission, today, now)) {
      return {};
    }
    return run_engine({submission}, [&] {
      return eval_expression(owned(expression), owned(submission), owned(today), owned(now));
    });
  });
}

PyMethodDef functions[] = {
    {"check_form", as_method(check_form_entry), METH_VARARGS | METH_KEYWORDS,
     "check_form(form)\n--\n\n"
     "Will this form mean the same thing on a tablet and in a browser?\n\n"
     "Returns one dict per finding: the bind it belongs to, which rule, the\n"
     "construct at fault, where it breaks, what happens, and what to write\n"
     "instead. An empty list means the form travels."},
    {"submission_findings", as_method(submission_findings_entry), METH_VARARGS | METH_KEYWORDS,
     "submission_findings(form, submission, today=None, now=None)\n--\n\n"
     "What a form's own rules say about a submission.\n\n"
     "A rule the engine could not evaluate comes back as `not-evaluated`,\n"
     "never as a pass: a rule that did not run has not been satisfied, and\n"
     "reporting it as clean would be the one failure worth avoiding."},
    {"eval_expression", as_method(eval_expression_entry), METH_VARARGS | METH_KEYWORDS,
     "eval_expression(expression, submission, today=None, now=None)\n--\n\n"
     "Evaluate one expression against a submission, for working out what a\n"
     "rule does before writing it into a form.\n\n"
     "An expression this engine cannot evaluate raises, rather than returning\n"
     "a plausible value."},
};

}  // namespace

std::span<PyMethodDef> module_functions() { return functions; }

}  // namespace tovarn::python
