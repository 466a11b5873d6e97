#include "tree/recycle.h"

namespace tovarn::tree::detail {

constinit thread_local int recycling_depth = 0;
constinit thread_local std::size_t kept_bytes = 0;
constinit std::atomic<std::size_t> all_kept_bytes{0};
constinit std::atomic<std::size_t> left_bytes{0};

}  // namespace tovarn::tree::detail
