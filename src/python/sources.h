#pragma once
// Source arguments and the clock of a request, shared by the entry points.

#include <optional>
#include <string>
#include <string_view>

#include "python/entry.h"
#include "tree/document.h"
#include "xpath/environment.h"

namespace tovarn::python {

// The XML text of a source argument: the argument itself when its first
// character after white space is '<', otherwise the whole content of the file
// it names, which must be valid UTF-8. A failure is a ValueError naming the
// source ("form", "submission", "instance") and the argument.
[[nodiscard]] Outcome<std::string> load_source(std::string argument, std::string_view name);

// The clock of one request: each text is the argument when given, else taken
// from the submission ("today", else the date part of "end" or "start";
// "end", else "start"), else read from the machine's local clock. Never fails.
xpath::Clock resolve_clock(const tree::Document& submission, std::optional<std::string> today,
                           std::optional<std::string> now);

}  // namespace tovarn::python
