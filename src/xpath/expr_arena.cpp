#include <cstdlib>
#include <cstring>
#include <limits>

#include "xpath/expr.h"

namespace tovarn::xpath {

namespace {

// Blocks grow to this and no further, so a large form wastes little at the
// end of its last one; a bigger request gets a block of its own size.
constexpr std::size_t kLargestBlock = std::size_t{1} << 16;
constexpr std::size_t kHeader = alignof(std::max_align_t);
static_assert(kHeader >= 2 * sizeof(std::size_t));

// What a thread keeps of the blocks it freed. Loading a form then takes no
// memory from the system, nor gives any back: blocks freed at the top of the
// heap would be trimmed off it and faulted in again on every load.
constexpr std::size_t kKeptBytes = std::size_t{1} << 19;

}  // namespace

struct ExprArena::Kept {
  Block* blocks = nullptr;
  std::size_t bytes = 0;
  bool closed = false;  // the thread is ending: free at once
};

ExprArena::Kept& ExprArena::kept() {
  thread_local constinit Kept kept;
  struct FreeAtExit {
    ~FreeAtExit() {
      for (Block* block = kept.blocks; block != nullptr;) {
        Block* next = block->next;
        std::free(block);
        block = next;
      }
      kept = Kept{nullptr, 0, true};
    }
  };
  thread_local FreeAtExit free_at_exit;
  (void)free_at_exit;
  return kept;
}

std::string_view ExprArena::copy(std::string_view text) {
  if (text.empty()) return {};
  char* out = static_cast<char*>(allocate(text.size(), 1));
  std::memcpy(out, text.data(), text.size());
  return {out, text.size()};
}

void* ExprArena::allocate_in_new_block(std::size_t bytes, std::size_t align) {
  // Room for the header, the padding that aligns the item and the item.
  constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
  if (bytes > kMax - kHeader - align) throw std::bad_alloc();
  const std::size_t need = kHeader + align + bytes;
  Block* block = nullptr;
  Kept& k = kept();
  for (Block** link = &k.blocks; *link != nullptr; link = &(*link)->next) {
    if ((*link)->size < need) continue;
    block = *link;
    *link = block->next;
    k.bytes -= block->size;
    break;
  }
  if (block == nullptr) {
    const std::size_t size = std::max(need, next_size_);
    block = static_cast<Block*>(std::malloc(size));
    if (block == nullptr) throw std::bad_alloc();
    block->size = size;
  }
  block->next = blocks_;
  blocks_ = block;
  next_ = reinterpret_cast<std::byte*>(block) + kHeader;
  end_ = reinterpret_cast<std::byte*>(block) + block->size;
  next_size_ = std::min(kLargestBlock, std::max(next_size_, block->size) * 2);
  return allocate(bytes, align);
}

void ExprArena::release() noexcept {
  if (blocks_ == nullptr) return;
  Kept& k = kept();
  for (Block* block = blocks_; block != nullptr;) {
    Block* next = block->next;
    if (!k.closed && k.bytes + block->size <= kKeptBytes) {
      block->next = k.blocks;
      k.blocks = block;
      k.bytes += block->size;
    } else {
      std::free(block);
    }
    block = next;
  }
  blocks_ = nullptr;
  next_ = end_ = nullptr;
}

}  // namespace tovarn::xpath
