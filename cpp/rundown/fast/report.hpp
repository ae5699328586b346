// The native report: the whole of format_data computed on C++ slices and block structs, written once.
#pragma once

#include "pyhost/function.hpp"
#include "rundown/state.hpp"

namespace rundown::fast {

/// Whether this call may take the native report: no step of the class is replaced for this instance (by a
/// subclass, on the class or on the instance) and the module's `re` is the module it imported, with its
/// own `match`. Checked at every call, cheaply: the class check is remembered against the type's version.
bool allowed(const pyhost::Call& c);

/// The report of `data`, or null when the record holds values whose reading could run Python code (subclassed
/// containers or strings, objects of other types); the caller then takes the generic path.
pyhost::Ref report(const pyhost::Call& c, PyObject* data);

}  // namespace rundown::fast
