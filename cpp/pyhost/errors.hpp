// Raising and catching Python exceptions from C++ as the interpreter's `raise`, `raise ... from ...` and
// `except` do, including the exception chaining (`__cause__`, `__context__`) that those statements set up.
#pragma once

#include "pyhost/ref.hpp"

namespace pyhost {

/// The exception that a failed call left set, taken out of the error indicator: normalized, with its traceback.
class Caught {
public:
    /// Takes the pending exception; construct only while one is set (first thing in a `catch (const Error&)`).
    Caught();
    PyObject* value() const noexcept { return value_.get(); }
    /// `except cls:`: whether the exception is an instance of `cls` (a class or a tuple of classes); the
    /// interpreter's TypeError when `cls` is not an exception class.
    bool matches(Obj cls) const;
    /// A bare `raise`: puts the exception back unchanged and throws Error.
    [[noreturn]] void reraise();

private:
    Ref value_;
};

/// While alive, `exc` is the exception being handled, as inside an `except` block: exceptions raised
/// meanwhile take it as their `__context__`, and `sys.exception()` reports it.
class Handling {
public:
    explicit Handling(Obj exc) noexcept;
    ~Handling() noexcept(false);
    Handling(const Handling&) = delete;
    Handling& operator=(const Handling&) = delete;

private:
    Ref previous_;  // what the innermost handled-exception slot held before, possibly null
};

/// The interpreter's TypeError for a keyword argument `key` that names no parameter of the function `qualname`,
/// whose parameters, each of which may be given by keyword, are the `names` (a tuple) up to `count`. From 3.13 on
/// it suggests the nearest of them, as the interpreter does.
[[noreturn]] void raise_unexpected_keyword(PyObject* qualname, PyObject* key, PyObject* names, Py_ssize_t count);

/// `raise exc`: an exception instance, or a class called without arguments; TypeError for anything else.
[[noreturn]] void raise(Obj exc);

/// `raise exc from cause`, with `cause` an exception instance: sets `__cause__` and `__suppress_context__`.
[[noreturn]] void raise_from(Obj exc, Obj cause);

}  // namespace pyhost
