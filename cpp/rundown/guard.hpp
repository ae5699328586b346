// The guard of the native paths: whether this call may take them, asked afresh at every call.
#pragma once

#include "pyhost/function.hpp"

namespace rundown {

/// Whether this call may take the native report: no step that the report reaches is replaced for this
/// instance (by a subclass, on the class or on the instance) and the module's `re` is the module it
/// imported, with its own `match`.
bool native_allowed(const pyhost::Call& c);

/// Whether the module's `re` is the module it imported, with its own `match`: the native line parsers then
/// give what the Python code would.
bool re_untouched(const pyhost::Call& c);

}  // namespace rundown
