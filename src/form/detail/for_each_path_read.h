#pragma once
// The walk behind paths_read, handing each path to a callback so that the
// form load can look paths up without building a list of strings.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "xpath/expr.h"

namespace tovarn::form::detail {

// Calls `visit` with each path read, in order. The view is valid only during
// the call.
void for_each_path_read(const xpath::Expr& expr, std::string_view base,
                        const std::function<void(std::string_view)>& visit);

// The same walk for many expressions in turn, reusing its buffers.
class PathReads {
 public:
  void for_each(const xpath::Expr& expr, std::string_view base,
                const std::function<void(std::string_view)>& visit);

 private:
  std::vector<std::string_view> segments_;
  std::string buffer_;
};

}  // namespace tovarn::form::detail
