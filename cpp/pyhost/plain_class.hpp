// A builder for plain classes: the class that `type(name, (object,), namespace)` makes, with native methods.
#pragma once

#include "pyhost/function.hpp"

#include <span>

namespace pyhost {

/// Creates class `name` of `module` with its docstring and methods, and binds it in the module namespace.
Ref add_plain_class(PyObject* module, PyObject* function_type, const char* name, const char* doc,
                    std::span<const MethodSpec> methods);

/// `import name` into the module namespace, under `name`; returns the module.
Ref import_into(PyObject* module, const char* name);

/// `from source import name` into the module namespace; returns the object.
Ref import_from_into(PyObject* module, const char* source, const char* name);

}  // namespace pyhost
