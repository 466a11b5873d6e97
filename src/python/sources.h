#pragma once
// Source arguments and the clock of a request, shared by the entry points.

#include <initializer_list>
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

// Whether a call reading these source arguments is known to outlast the time
// it keeps the interpreter's lock (CallLock): one names a file, whose reading
// may wait, or their texts together pass 16 KiB, more than the XML reader
// takes in that time (some 600 MB/s), reading them before its first poll.
bool known_long(std::initializer_list<std::string_view> sources);

// The clock of one request: each text is the argument when given, else taken
// from the submission ("today", else the date part of "end" or "start";
// "end", else "start"), else read from the machine's local clock. Never fails.
xpath::Clock resolve_clock(const tree::Document& submission, std::optional<std::string> today,
                           std::optional<std::string> now);

}  // namespace tovarn::python
