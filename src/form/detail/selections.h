#pragma once
// The nodes each bind selects in one model document, evaluated once on
// first use and then shared by every pass of one judgement.

#include <optional>
#include <span>
#include <vector>

#include "form/detail/plain_paths.h"
#include "form/model.h"
#include "tree/document.h"
#include "xpath/environment.h"

namespace tovarn::form::detail {

class Selections {
 public:
  Selections(const std::vector<Bind>& binds, const tree::Document& doc,
             const xpath::Environment& env)
      : binds_(binds), doc_(doc), env_(env), plain_(binds, doc), nodes_(binds.size()) {}

  std::span<const tree::NodeId> of(std::size_t bind);

 private:
  const std::vector<Bind>& binds_;
  const tree::Document& doc_;
  const xpath::Environment& env_;
  PlainPaths plain_;
  // Of the binds plain_ does not cover.
  std::vector<std::optional<std::vector<tree::NodeId>>> nodes_;
};

// The nodes a parsed nodeset selects at the document's root element.
std::vector<tree::NodeId> select_nodes(const xpath::Expr& nodeset, const tree::Document& doc,
                                       const xpath::Environment& env);

}  // namespace tovarn::form::detail
