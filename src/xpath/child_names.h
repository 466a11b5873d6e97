#pragma once
// Child steps find a wide parent's children through the tree's table.

#include "tree/child_names.h"

namespace tovarn::xpath {

using tree::ChildNames;

}  // namespace tovarn::xpath
