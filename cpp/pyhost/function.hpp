// Method objects that behave like Python functions: they bind as methods, carry a name, qualified name,
// module, docstring, string annotations and an `inspect` signature, parse arguments like CPython's
// own functions and check the exact argument types that a method declares before its body runs.
#pragma once

#include "pyhost/ref.hpp"

#include <span>

namespace pyhost {

/// What a parameter accepts on entry.
enum class Accept {
    any,           ///< anything
    dict,          ///< exactly a dict
    list,          ///< exactly a list
    str,           ///< exactly a str
    str_or_none,   ///< exactly a str, or None
    number,        ///< any number, converted with int()
};

struct Param {
    const char* name;
    const char* annotation;
    Accept accept = Accept::any;
    bool keyword_only = false;
    bool default_none = false;  ///< optional, with None as default
};

struct Call;
using Body = Ref (*)(const Call&);

/// A method of a plain class; `self` is implied and not listed in `params`.
struct MethodSpec {
    const char* name;
    const char* doc;  ///< null: no docstring
    std::span<const Param> params;
    const char* returns;
    Body body;
};

/// One call of a method, after its arguments were bound and checked.
struct Call {
    PyObject* function;
    PyObject* self;
    PyObject* const* args;  ///< one per declared parameter, in declaration order

    PyObject* arg(std::size_t i) const noexcept { return args[i]; }
    /// The module the method belongs to; SystemError once the collector has cleared the method.
    PyObject* module() const;
    /// A name of the module namespace, read at this moment; NameError when it is missing.
    Ref global(Obj name) const;
    /// The module's state, which the module keeps as a pointer to a `State` made when it executes;
    /// SystemError before that and once the module has been cleared.
    template <class State>
    State& state() const {
        return *static_cast<State*>(module_state());
    }

private:
    void* module_state() const;
};

/// Creates the method type of `module` (named by a static string, e.g. "pkg.mod.function"); done once,
/// when the module executes.
Ref make_function_type(PyObject* module, const char* qualified_type_name);

/// The MethodSpec behind `obj` when it is a method object of `function_type`, else null (also for a null `obj`).
const MethodSpec* spec_of(PyObject* obj, PyObject* function_type) noexcept;

/// A new method object for `spec`, qualified by `owner` (the class name).
Ref make_function(PyObject* function_type, PyObject* module, const MethodSpec& spec, const char* owner);

}  // namespace pyhost
