// The native report: the whole of format_data computed on slices of the record's strs, on the calling
// thread, with nothing kept from one call to the next.
#pragma once

#include "pyhost/function.hpp"

namespace rundown::fast {

/// The report of `data`, or null when the record holds values whose reading could run Python code (subclassed
/// containers or strings, objects of other types); the caller then takes the generic path.
pyhost::Ref report(const pyhost::Call& c, PyObject* data);

}  // namespace rundown::fast
