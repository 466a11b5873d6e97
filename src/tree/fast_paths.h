#pragma once
// Every memo, index and shortcut of the engine must answer exactly what the
// plain evaluation answers. Each one asks kFastPaths before it acts, so that a
// build configured with -DTOVARN_FAST_PATHS=OFF takes the plain way
// everywhere, and the tests hold both builds to the same outputs.

#ifndef TOVARN_FAST_PATHS
#define TOVARN_FAST_PATHS 1
#endif

namespace tovarn {

inline constexpr bool kFastPaths = TOVARN_FAST_PATHS != 0;

}  // namespace tovarn
