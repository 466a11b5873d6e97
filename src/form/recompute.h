#pragma once
// Bringing a session up to date with its form's logic, and what that found.

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "form/session.h"

namespace tovarn::form {

// Paths are reported paths: model document node paths without "/model".
struct RecomputeResult {
  // Values the calculations changed in the instance.
  std::map<std::string, std::string> calculated;
  // Every node any bind selects.
  std::map<std::string, bool> relevant;
  // Required and unanswered.
  std::vector<std::string> missing;
  // Path and message of each broken constraint.
  std::vector<std::pair<std::string, std::string>> invalid;
  // Place and reason of each rule that could not be evaluated: calculations
  // under their bind's nodeset, then relevance sentences, then the judge's.
  std::vector<std::pair<std::string, std::string>> failed;
  // Rows of each repeat, a nested one's per outer row (count_rows).
  std::map<std::string, std::uint64_t> repeats;
};

// Runs the calculations in order and writes each changed value into the
// instance node it was calculated for (never into a secondary instance),
// then judges the updated instance and counts the rows. Never fails: a rule
// that cannot be evaluated is reported in `failed`. Stopped by the thread's
// watch, it leaves the instance as it was and reports nothing.
RecomputeResult recompute_session(Session& session);

}  // namespace tovarn::form
