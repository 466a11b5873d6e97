#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "tree/recycle.h"
#include "xpath/expr.h"

namespace tovarn::xpath {

namespace {

// Blocks grow to this and no further, so a large form wastes little at the
// end of its last one; a bigger request gets a block of its own size.
constexpr std::size_t kLargestBlock = std::size_t{1} << 16;
constexpr std::size_t kHeader = alignof(std::max_align_t);
static_assert(kHeader >= 2 * sizeof(std::size_t));

}  // namespace

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
  // Loading a form in a call takes the large blocks of the call before: the
  // same shelves as its documents' buffers.
  tree::RawBlock memory = tree::take_buffer<tree::RawBlock>(std::max(need, next_size_));
  const std::size_t size = memory.capacity();
  Block* block = ::new (memory.release()) Block{nullptr, size};
  block->next = blocks_;
  blocks_ = block;
  next_ = reinterpret_cast<std::byte*>(block) + kHeader;
  end_ = reinterpret_cast<std::byte*>(block) + block->size;
  next_size_ = std::min(kLargestBlock, std::max(next_size_, block->size) * 2);
  return allocate(bytes, align);
}

void ExprArena::release() noexcept {
  for (Block* block = blocks_; block != nullptr;) {
    Block* next = block->next;
    // Kept on the thread's shelf while recycling, else freed with `memory`.
    tree::RawBlock memory = tree::RawBlock::adopt(reinterpret_cast<std::byte*>(block), block->size);
    tree::give_buffer(memory);
    block = next;
  }
  blocks_ = nullptr;
  next_ = end_ = nullptr;
}

}  // namespace tovarn::xpath
