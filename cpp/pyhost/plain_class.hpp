// A builder for plain classes: the class that `type(name, (object,), namespace)` makes, with native methods.
#pragma once

#include "pyhost/function.hpp"

#include <initializer_list>
#include <span>

namespace pyhost {

/// Creates class `name` of `module` with its docstring and methods, and binds it in the module namespace.
Ref add_plain_class(PyObject* module, PyObject* function_type, const char* name, const char* doc,
                    std::span<const MethodSpec> methods);

/// `import name` (a top-level module) into the module namespace, as the import statement does; returns the module.
Ref import_into(PyObject* module, const char* name);

/// `from source import name, ...` into the module namespace, as the import statement does: one import, then
/// each name in turn, with the interpreter's ImportError for a name that the module lacks.
void import_from_into(PyObject* module, const char* source, std::initializer_list<const char*> names);

}  // namespace pyhost
