// The native report: the whole of format_data computed on C++ slices and block structs, on the calling
// thread, with nothing kept from one call to the next.
#pragma once

#include "pyhost/function.hpp"
#include "rundown/state.hpp"

namespace rundown::fast {

using pyhost::Call;
using pyhost::Ref;

/// Whether this call may take the native report: no step that the report reaches is replaced for this
/// instance (by a subclass, on the class or on the instance) and the module's `re` is the module it
/// imported, with its own `match`. Checked afresh at every call.
bool allowed(const Call& c);

/// The report of `data`, or null when the record holds values whose reading could run Python code (subclassed
/// containers or strings, objects of other types); the caller then takes the generic path.
Ref report(const Call& c, PyObject* data);

}  // namespace rundown::fast
