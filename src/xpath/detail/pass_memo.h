#pragma once
// The pass memos' registrations, which PassMemo makes and forgets and the
// evaluator reads: one thread's, in ThreadState::memos.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "tree/document.h"
#include "xpath/detail/location.h"
#include "xpath/detail/node_texts.h"
#include "xpath/expr.h"
#include "xpath/value.h"
#include "xpath/watch.h"

// Checks of the engine's own bookkeeping, active in debug and sanitizer
// builds; a failed one is a bug of the engine, never of its input.
#if !defined(NDEBUG) || defined(TOVARN_CHECKS)
#include <cstdio>
#include <cstdlib>
#define TOVARN_CHECK(condition)                                                         \
  do {                                                                                  \
    if (!(condition)) {                                                                 \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                     \
    }                                                                                   \
  } while (false)
#else
#define TOVARN_CHECK(condition) static_cast<void>(0)
#endif

namespace tovarn::xpath::detail {

// An absolute path reads nothing but its document, yet a predicate evaluates
// it again for every node it tests, and nested predicates multiply that:
// //*[. = //*[. = //*]] would cost the document's size to the third power.
// So while a predicate runs over a list, each absolute path inside it is
// worked out once. Only paths of that predicate's own tree are kept, which
// stays alive and unchanged for the whole loop, so an address can never
// stand for an expression parsed and freed meanwhile; the evaluator never
// changes a document.
struct MemoPath {
  const Expr::LocationPath* path;
  const tree::Document* doc = nullptr;  // set with the nodes
  NodeList nodes;
  // Their texts, once a comparison asks: x = //y in a predicate then costs
  // one hash lookup per node rather than a pass over //y.
  std::unique_ptr<NodeTexts> texts;
};

// A pass memo's value of a part of its rule that reads no context, or the
// place for it. Kept for the part's address, like the paths above: the rule
// outlives its memo.
struct MemoValue {
  const Expr* expr = nullptr;
  // Its reads are known: texts under the nodes of absolute paths without
  // predicates, through functions of nothing but their arguments. Any other
  // value is forgotten on every write.
  bool tracked = false;
  std::vector<const Expr::LocationPath*> paths;  // when tracked
  const tree::Document* doc = nullptr;                 // set with the value
  std::optional<EvalResult> value;
  bool reads_known = false;
  // The order ranges of the subtrees read, rising and disjoint.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> reads;
};

struct Memos {
  std::vector<MemoPath> paths;  // outer predicates first
  std::vector<MemoValue> values;
};

// The thread's memos, made on first use and freed as the thread ends.
Memos& memos();

inline bool any_paths(const ThreadState& state) {
  return state.memos != nullptr && !state.memos->paths.empty();
}

// The registrations of the expression and of the path, once the thread has
// memos; nullptr for none. The outermost registration of a path, which
// lives longest.
inline MemoValue* memo_value(const Expr& expr) {
  for (MemoValue& m : thread_state.memos->values) {
    if (m.expr == &expr) return &m;
  }
  return nullptr;
}
inline MemoPath* memo_path(const Expr::LocationPath& path) {
  for (MemoPath& m : thread_state.memos->paths) {
    if (m.path == &path) return &m;
  }
  return nullptr;
}

// The texts of an absolute path already worked out in this document, or
// nullptr. The texts live as long as the path's registration.
const NodeTexts* memo_texts(const Expr& expr, const tree::Document& doc);

// The absolute paths of the predicates run over one list, registered while
// it lives.
class PredicatePaths {
 public:
  PredicatePaths() = default;
  ~PredicatePaths();
  PredicatePaths(const PredicatePaths&) = delete;
  PredicatePaths& operator=(const PredicatePaths&) = delete;
  void add(const Expr& predicate);

 private:
  std::vector<MemoPath>* paths_ = nullptr;  // once a predicate registers
  std::size_t mark_ = 0;
  std::size_t end_ = 0;
};

}  // namespace tovarn::xpath::detail
