#pragma once
// The expression tree that the parser builds, the evaluator walks and the form
// logic and engine comparison inspect. Nodes, their lists and their texts live
// in an ExprArena and are freed with it at once: an Expr is a view, copied as
// cheaply as a pointer and valid as long as its arena. The parser bounds the
// tree's depth (kMaxExprDepth), so walks over an Expr may recurse.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

namespace tovarn::xpath {

inline constexpr int kMaxExprDepth = 1000;

enum class Axis : std::uint8_t {
  child,
  parent,
  self,
  descendant,
  descendant_or_self,
  ancestor,
  ancestor_or_self,
  attribute,
  following,
  following_sibling,
  preceding,
  preceding_sibling,
};

// "or" and "and" are alternative tokens in C++, hence logical_or / logical_and.
enum class BinaryOp : std::uint8_t {
  logical_or,
  logical_and,
  eq,
  ne,
  lt,
  le,
  gt,
  ge,
  add,
  sub,
  mul,
  div,
  mod,
};

struct Expr;

// A node's one child, read as a pointer is; it owns nothing.
template <class T>
class Ref {
 public:
  Ref() = default;
  Ref(const T* node) : node_(node) {}  // NOLINT: a plain pointer converts
  const T& operator*() const { return *node_; }
  const T* operator->() const { return node_; }
  const T* get() const { return node_; }

 private:
  const T* node_ = nullptr;
};

// The node type a step tests for. The tree holds elements and attributes
// alone, so comment() and processing-instruction() select nothing, and
// text() is refused on an axis that would hold text (none of the three has
// a name test).
enum class NodeType : std::uint8_t {
  node,  // node(), "*" and every name test
  text,
  comment,
  processing_instruction,
};

struct Step {
  Axis axis = Axis::child;
  NodeType type = NodeType::node;
  // The local name the step's nodes must have; absent lets every node of the
  // type through.
  std::optional<std::string_view> name_test;
  std::span<const Expr> predicates;
};

struct Expr {
  struct Number {
    double value;
  };
  struct Literal {
    std::string_view text;
  };
  struct Variable {
    std::string_view name;  // without the "$"
  };
  struct LocationPath {
    bool absolute = false;
    std::span<const Step> steps;  // empty only for "/" alone
    // A relative path that starts at the node its rule is evaluated for
    // (`evaluate_for`), even inside a predicate. The parser never makes one:
    // the form logic does, for paths that read the row holding that node.
    bool from_rule_node = false;
  };
  struct FilterPath {
    Ref<Expr> primary;
    std::span<const Expr> predicates;
    std::span<const Step> steps;
  };
  struct FunctionCall {
    std::string_view name;  // as written, prefix included
    std::span<const Expr> args;
  };
  struct Binary {
    BinaryOp op;
    Ref<Expr> lhs;
    Ref<Expr> rhs;
  };
  struct Negate {
    Ref<Expr> operand;
  };
  struct Union {
    Ref<Expr> lhs;
    Ref<Expr> rhs;
  };

  // Alternatives in the order of the kinds.
  std::variant<Number, Literal, Variable, LocationPath, FilterPath, FunctionCall, Binary, Negate,
               Union>
      node;
};

// Nothing in a tree needs destroying, so an arena frees it by its blocks.
static_assert(std::is_trivially_destructible_v<Expr> && std::is_trivially_destructible_v<Step>);

// Blocks of memory handed out in order and freed together: the trees of one
// form, or of one expression. Addresses stay put when the arena moves.
class ExprArena {
 public:
  ExprArena() = default;
  ExprArena(ExprArena&& other) noexcept { take(other); }
  ExprArena& operator=(ExprArena&& other) noexcept {
    if (this != &other) {
      release();
      take(other);
    }
    return *this;
  }
  ~ExprArena() { release(); }

  // The next block holds at least this many bytes: a caller that knows what
  // is coming saves the blocks in between.
  void expect(std::size_t bytes) { next_size_ = std::max(next_size_, bytes); }

  template <class T>
  T* make(const T& value) {
    static_assert(std::is_trivially_destructible_v<T>);
    return ::new (allocate(sizeof(T), alignof(T))) T(value);
  }

  // A copy of the items, in memory of the arena.
  template <class T>
  std::span<const T> copy(std::span<const T> items) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (items.empty()) return {};
    T* out = static_cast<T*>(allocate(items.size_bytes(), alignof(T)));
    std::uninitialized_copy(items.begin(), items.end(), out);
    return {out, items.size()};
  }

  std::string_view copy(std::string_view text);

 private:
  struct Block {
    Block* next;
    std::size_t size;  // with this header
  };

  void* allocate(std::size_t bytes, std::size_t align) {
    const auto at = (reinterpret_cast<std::uintptr_t>(next_) + (align - 1)) & ~(align - 1);
    if (next_ != nullptr && at <= reinterpret_cast<std::uintptr_t>(end_) &&
        bytes <= static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(end_) - at)) {
      next_ = reinterpret_cast<std::byte*>(at + bytes);
      return reinterpret_cast<void*>(at);
    }
    return allocate_in_new_block(bytes, align);
  }
  void* allocate_in_new_block(std::size_t bytes, std::size_t align);
  void take(ExprArena& other) noexcept {
    blocks_ = std::exchange(other.blocks_, nullptr);
    next_ = std::exchange(other.next_, nullptr);
    end_ = std::exchange(other.end_, nullptr);
    next_size_ = std::exchange(other.next_size_, kFirstBlock);
  }
  void release() noexcept;

  static constexpr std::size_t kFirstBlock = 1024;
  Block* blocks_ = nullptr;  // the newest first
  std::byte* next_ = nullptr;
  std::byte* end_ = nullptr;
  std::size_t next_size_ = kFirstBlock;
};

// A parsed expression with the arena that holds its tree: the root node is the
// object itself, so it passes wherever an Expr does. Moves keep the tree.
struct Expression : Expr {
  ExprArena arena;
};

}  // namespace tovarn::xpath
