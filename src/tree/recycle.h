#pragma once
// Large buffers of the documents, texts and expression trees of one call, kept
// by its thread for the thread's next call.
//
// A call that builds megabytes of records and text and drops them again has
// glibc give the pages back (unmapped, or trimmed off the thread's heap), and
// the next call faults every page in afresh; faults take the process's
// address-space lock, so threads that run such calls side by side queue on it.
// While a Recycling scope lives on a thread, the large buffers that documents
// drop there go on the thread's shelves, and the reader, copies, argument
// texts and the blocks of expression arenas take them back.
//
// What a shelf hands out is a plain container that owns its memory: one that
// outlives the call is freed like any other, from any thread. A thread keeps
// at most kKeptPerThread bytes, none in a buffer above kLargestKept, and all
// running threads at most kKeptInAll; an ending thread leaves its buffers to
// threads that start later, up to kLeftBytes, and frees the rest.

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <utility>

namespace tovarn::tree {

namespace detail {
extern constinit thread_local int recycling_depth;
}  // namespace detail

// Memory that an arena places its own objects in, as a buffer of bytes that
// holds none: taking one from a shelf or giving it back copies nothing.
class RawBlock {
 public:
  using value_type = std::byte;

  RawBlock() = default;
  RawBlock(RawBlock&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), capacity_(std::exchange(other.capacity_, 0)) {}
  RawBlock& operator=(RawBlock&& other) noexcept {
    if (this != &other) {
      std::free(data_);
      data_ = std::exchange(other.data_, nullptr);
      capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
  }
  ~RawBlock() { std::free(data_); }

  // The memory of `capacity` bytes that release() handed out, owned again.
  static RawBlock adopt(std::byte* data, std::size_t capacity) {
    RawBlock block;
    block.data_ = data;
    block.capacity_ = capacity;
    return block;
  }
  // Hands the memory to the caller, who gives it back through adopt().
  std::byte* release() {
    capacity_ = 0;
    return std::exchange(data_, nullptr);
  }

  std::size_t capacity() const { return capacity_; }
  void clear() {}
  // Room for `bytes`; as nothing is held, nothing is copied.
  void reserve(std::size_t bytes) {
    if (bytes <= capacity_) return;
    std::free(std::exchange(data_, nullptr));
    capacity_ = 0;
    data_ = static_cast<std::byte*>(std::malloc(bytes));
    if (data_ == nullptr) throw std::bad_alloc();
    capacity_ = bytes;
  }

 private:
  std::byte* data_ = nullptr;
  std::size_t capacity_ = 0;
};

// Marks the calls whose documents and texts live no longer than the call
// itself (the module functions); only they take and give shelf buffers, so a
// long-lived document (a session's) neither keeps one nor stays large.
class Recycling {
 public:
  Recycling() { ++detail::recycling_depth; }
  ~Recycling() { --detail::recycling_depth; }
  Recycling(const Recycling&) = delete;
  Recycling& operator=(const Recycling&) = delete;
  static bool active() { return detail::recycling_depth > 0; }
};

namespace detail {

// Buffers below this are left to the allocator, which keeps them itself.
inline constexpr std::size_t kSmallestKept = std::size_t{64} << 10;
inline constexpr std::size_t kLargestKept = std::size_t{16} << 20;
// What one thread keeps, and what all running threads keep together (a pool
// of many threads keeps no more than a few would).
inline constexpr std::size_t kKeptPerThread = std::size_t{32} << 20;
inline constexpr std::size_t kKeptInAll = std::size_t{256} << 20;

inline constexpr std::size_t kSlots = 6;
// Sets of buffers that ended threads leave for threads that start later (a
// server that runs a thread per request): at most kLeftSets of each type of
// buffer, holding at most kLeftBytes in all.
inline constexpr std::size_t kLeftSets = 8;
inline constexpr std::size_t kLeftBytes = std::size_t{128} << 20;

// Bytes that every shelf of this thread holds.
extern constinit thread_local std::size_t kept_bytes;
// Bytes that the shelves of all running threads hold.
extern constinit std::atomic<std::size_t> all_kept_bytes;
// Bytes that the sets left by ended threads hold, of every type.
extern constinit std::atomic<std::size_t> left_bytes;

// Counts `bytes` more into `total` when that stays within `limit`.
inline bool add_within(std::atomic<std::size_t>& total, std::size_t bytes, std::size_t limit) {
  std::size_t held = total.load(std::memory_order_relaxed);
  do {
    if (held + bytes > limit) return false;
  } while (!total.compare_exchange_weak(held, held + bytes, std::memory_order_relaxed));
  return true;
}

// Counts `bytes` more as kept by this thread when both allowances have room.
inline bool keep_bytes(std::size_t bytes) {
  if (kept_bytes + bytes > kKeptPerThread || !add_within(all_kept_bytes, bytes, kKeptInAll))
    return false;
  kept_bytes += bytes;
  return true;
}

inline void drop_bytes(std::size_t bytes) {
  kept_bytes -= bytes;
  all_kept_bytes.fetch_sub(bytes, std::memory_order_relaxed);
}

template <class Buffer>
using Slots = std::array<Buffer, kSlots>;

// What a buffer holds on the heap; nothing for a string's inline room.
template <class Buffer>
std::size_t bytes_of(const Buffer& buffer) {
  const std::size_t bytes = buffer.capacity() * sizeof(typename Buffer::value_type);
  return bytes >= kSmallestKept ? bytes : 0;
}

template <class Buffer>
std::size_t bytes_of(const Slots<Buffer>& slots) {
  std::size_t bytes = 0;
  for (const Buffer& buffer : slots) bytes += bytes_of(buffer);
  return bytes;
}

// The sets that ended threads left. Only a thread's start and end look here.
template <class Buffer>
struct LeftSets {
  std::mutex lock;
  std::array<Slots<Buffer>, kLeftSets> sets;
  std::size_t count = 0;
};

// The lock of the left sets, or none when it stays taken. Threads that start
// or end together each hold it for a few moves, so a try that fails is tried
// again; but never without bound, which a child forked while the lock was
// held would need. Without the lock a thread starts with nothing, or frees
// what it held, as with no sets at all.
inline std::unique_lock<std::mutex> hold(std::mutex& lock) {
  std::unique_lock held(lock, std::try_to_lock);
  for (int tries = 0; !held && tries < 1000; ++tries) {
    std::this_thread::yield();
    held.try_lock();
  }
  return held;
}

// Never destroyed: the main thread's shelves leave their sets at exit.
template <class Buffer>
LeftSets<Buffer>& left_sets() {
  static LeftSets<Buffer>& left = *new LeftSets<Buffer>;
  return left;
}

// A thread's kept buffers of one type (std::string, std::vector<T>, RawBlock).
template <class Buffer>
class Shelf {
 public:
  Shelf() = default;
  Shelf(const Shelf&) = delete;
  Shelf& operator=(const Shelf&) = delete;
  ~Shelf() {
    const std::size_t bytes = bytes_of(kept_);
    drop_bytes(bytes);
    if (bytes == 0) return;
    LeftSets<Buffer>& left = left_sets<Buffer>();
    std::unique_lock held = hold(left.lock);
    if (!held || left.count == kLeftSets || !add_within(left_bytes, bytes, kLeftBytes)) return;
    left.sets[left.count++] = std::move(kept_);
  }

  // An empty buffer with room for `count` elements: the smallest kept one
  // that fits and is not much larger (a small request does not take the
  // buffer a large one will want), else a new one.
  Buffer take(std::size_t count) {
    Buffer out;
    if (count * sizeof(typename Buffer::value_type) >= kSmallestKept) {
      if (!started_) start();
      Buffer* best = nullptr;
      for (Buffer& kept : kept_) {
        const std::size_t capacity = kept.capacity();
        if (capacity >= count && capacity / 4 <= count &&
            (best == nullptr || capacity < best->capacity()))
          best = &kept;
      }
      if (best != nullptr) {
        drop_bytes(bytes_of(*best));
        out = std::exchange(*best, Buffer());
      }
    }
    out.reserve(count);
    return out;
  }

  // Keeps the buffer's memory, leaving the buffer empty, when it is large
  // and the allowances have room, in place of a smaller kept one (freed)
  // when every place is taken; otherwise leaves the buffer as it is.
  void give(Buffer& buffer) {
    const std::size_t bytes = bytes_of(buffer);
    if (bytes == 0 || bytes > kLargestKept) return;
    Buffer* place = nullptr;
    for (Buffer& kept : kept_) {
      if (place == nullptr || kept.capacity() < place->capacity()) place = &kept;
    }
    const std::size_t replaced = bytes_of(*place);
    if (replaced >= bytes || !keep_bytes(bytes - replaced)) return;
    buffer.clear();
    *place = std::exchange(buffer, Buffer());
  }

 private:
  // The thread's first large request takes the set an ended thread left,
  // unless the thread has kept buffers of its own by then.
  void start() {
    started_ = true;
    if (bytes_of(kept_) != 0) return;
    LeftSets<Buffer>& left = left_sets<Buffer>();
    std::unique_lock held = hold(left.lock);
    if (!held || left.count == 0) return;
    Slots<Buffer>& set = left.sets[left.count - 1];
    const std::size_t bytes = bytes_of(set);
    if (!keep_bytes(bytes)) return;
    kept_ = std::move(set);
    --left.count;
    left_bytes.fetch_sub(bytes, std::memory_order_relaxed);
  }

  Slots<Buffer> kept_;
  bool started_ = false;
};

template <class Buffer>
Shelf<Buffer>& shelf() {
  thread_local Shelf<Buffer> kept;
  return kept;
}

}  // namespace detail

// An empty buffer with room for `count` elements, kept from an earlier call
// when recycling and one fits; otherwise plainly reserved.
template <class Buffer>
Buffer take_buffer(std::size_t count) {
  if (!Recycling::active() || count * sizeof(typename Buffer::value_type) < detail::kSmallestKept) {
    Buffer out;
    out.reserve(count);
    return out;
  }
  return detail::shelf<Buffer>().take(count);
}

// While recycling, puts the buffer's memory on the thread's shelf when the
// shelf keeps it, and leaves the buffer empty; otherwise leaves it as it is,
// for its owner to free.
template <class Buffer>
void give_buffer(Buffer& buffer) {
  if (Recycling::active() && detail::bytes_of(buffer) != 0) detail::shelf<Buffer>().give(buffer);
}

// Room for `count` elements in all, keeping the contents. While recycling, a
// buffer that must grow moves into a kept one at least twice its size, and
// its old memory is kept in turn; otherwise nothing is done, and the buffer
// grows as it would.
template <class Buffer>
void make_room(Buffer& buffer, std::size_t count) {
  if (count <= buffer.capacity() || !Recycling::active()) return;
  Buffer grown = take_buffer<Buffer>(std::max(count, 2 * buffer.capacity()));
  grown.insert(grown.end(), buffer.begin(), buffer.end());
  give_buffer(buffer);
  buffer = std::move(grown);
}

}  // namespace tovarn::tree
