#pragma once
// Keeping a long-lived session's instance from growing without bound.

#include "form/session.h"

namespace tovarn::form::detail {

// Detached rows keep their records and replaced texts their bytes, so a
// session that is edited for ever would grow for ever. Once the dead part
// outweighs the live one the instance is copied afresh; the copy is paid for
// by the edits that made it necessary. Node ids change, and the path index
// and what is known of nodes by id are dropped.
void compact_if_sparse(Session& session);

}  // namespace tovarn::form::detail
