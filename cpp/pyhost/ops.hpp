// Thin, throwing wrappers over the C-API operations that the modules' generic code is written in.
// Every wrapper returns an owned reference, so values read from containers stay alive across
// callbacks into Python that may mutate those containers.
#pragma once

#include "pyhost/ref.hpp"

#include <string_view>

namespace pyhost {

inline Ref none() noexcept { return Ref::borrow(Py_None); }
inline Ref boolean(bool v) noexcept { return Ref::borrow(v ? Py_True : Py_False); }
inline Ref intern(const char* s) { return check(PyUnicode_InternFromString(s)); }
inline Ref str_from(std::string_view s) {
    return check(PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "strict"));
}
inline Ref integer(long long v) { return check(PyLong_FromLongLong(v)); }

// Lists, dicts and tuples are tracked by the collector: making one can start a collection, which runs
// finalizers and gc.callbacks, i.e. Python code.
inline Ref new_list(Py_ssize_t n = 0) { return check(api(PyList_New, n)); }
inline void append(Obj list, Obj item) { check(api(PyList_Append, list, item)); }
inline Ref new_dict() { return check(api(PyDict_New)); }
inline void set_item(Obj dict, Obj key, Obj value) { check(api(PyDict_SetItem, dict, key, value)); }
inline void set_subscript(Obj obj, Obj key, Obj value) { check(api(PyObject_SetItem, obj, key, value)); }
inline Ref subscript(Obj obj, Obj key) { return check(api(PyObject_GetItem, obj, key)); }
inline Ref item_at(Obj seq, Py_ssize_t i) { return check(api(PySequence_GetItem, seq, i)); }
inline Ref slice(Obj list, Py_ssize_t from, Py_ssize_t to) { return check(api(PyList_GetSlice, list, from, to)); }
inline Ref tuple2(Obj a, Obj b) {
    return check(api([&] { return PyTuple_Pack(2, static_cast<PyObject*>(a), static_cast<PyObject*>(b)); }));
}

inline bool truthy(Obj v) { return check(api(PyObject_IsTrue, v)) != 0; }
inline bool equals(Obj a, Obj b) { return check(api(PyObject_RichCompareBool, a, b, Py_EQ)) != 0; }
inline bool less(Obj a, Obj b) { return check(api(PyObject_RichCompareBool, a, b, Py_LT)) != 0; }
inline Py_ssize_t length(Obj v) {
    Py_ssize_t n = api(PyObject_Size, v);
    if (n < 0) throw Error{};
    return n;
}

/// The length of a str, made ready first if the deprecated C API made it without its characters in place.
inline Py_ssize_t str_length(Obj s) {
    const Py_ssize_t n = PyUnicode_GetLength(s);
    if (n < 0) throw Error{};
    return n;
}
inline Ref str(Obj v) { return check(api(PyObject_Str, v)); }
/// `format(v)`, what an f-string does with `{v}`.
inline Ref format(Obj v) { return check(api(PyObject_Format, v, static_cast<PyObject*>(nullptr))); }
inline Ref concat(Obj a, Obj b) { return check(api(PyUnicode_Concat, a, b)); }
inline Ref join(Obj sep, Obj items) { return check(api(PyUnicode_Join, sep, items)); }
/// The host's `int(v)`.
inline Ref as_int(Obj v) { return check(api(PyNumber_Long, v)); }
inline Ref add(Obj a, Obj b) { return check(api(PyNumber_Add, a, b)); }
inline Ref subtract(Obj a, Obj b) { return check(api(PyNumber_Subtract, a, b)); }
inline Ref multiply(Obj a, Obj b) { return check(api(PyNumber_Multiply, a, b)); }
inline Ref true_divide(Obj a, Obj b) { return check(api(PyNumber_TrueDivide, a, b)); }

inline Ref getattr(Obj obj, Obj name) { return check(api(PyObject_GetAttr, obj, name)); }
inline void setattr(Obj obj, Obj name, Obj value) { check(api(PyObject_SetAttr, obj, name, value)); }

/// `obj.name(args...)`, looked up on the object at the moment of the call.
template <class... A>
Ref call_method(Obj obj, Obj name, const A&... args) {
    PyObject* argv[] = {obj, static_cast<PyObject*>(Obj(args))...};
    return check(api(PyObject_VectorcallMethod, name, static_cast<PyObject* const*>(argv),
                     (1 + sizeof...(A)) | PY_VECTORCALL_ARGUMENTS_OFFSET, static_cast<PyObject*>(nullptr)));
}

/// `obj.name(args..., **kw)`, where the last `PyTuple_GET_SIZE(kwnames)` arguments are the keyword values.
template <class... A>
Ref call_method_kw(Obj obj, Obj name, Obj kwnames, const A&... args) {
    PyObject* argv[] = {obj, static_cast<PyObject*>(Obj(args))...};
    const auto npositional = static_cast<std::size_t>(1 + sizeof...(A) - PyTuple_GET_SIZE(static_cast<PyObject*>(kwnames)));
    return check(api(PyObject_VectorcallMethod, name, static_cast<PyObject* const*>(argv),
                     npositional | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames));
}

/// `fn(args..., **kw)`, where the last `PyTuple_GET_SIZE(kwnames)` arguments are the keyword values.
template <class... A>
Ref call_kw(Obj fn, Obj kwnames, const A&... args) {
    PyObject* argv[] = {nullptr, static_cast<PyObject*>(Obj(args))...};
    const auto npositional = static_cast<std::size_t>(sizeof...(A) - PyTuple_GET_SIZE(static_cast<PyObject*>(kwnames)));
    return check(api(PyObject_Vectorcall, fn, static_cast<PyObject* const*>(argv + 1),
                     npositional | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames));
}

/// `fn(args...)`.
template <class... A>
Ref call(Obj fn, const A&... args) {
    PyObject* argv[] = {nullptr, static_cast<PyObject*>(Obj(args))...};
    return check(api(PyObject_Vectorcall, fn, static_cast<PyObject* const*>(argv + 1),
                     sizeof...(A) | PY_VECTORCALL_ARGUMENTS_OFFSET, static_cast<PyObject*>(nullptr)));
}

/// `d[key]` of a dict, or null when missing; the lookup compares keys, which may run Python code.
inline Ref dict_lookup(Obj dict, Obj key) {
    PyObject* v = api(PyDict_GetItemWithError, dict, key);
    if (!v && PyErr_Occurred()) throw Error{};
    return Ref::borrow(v);
}

/// `mapping.get(key, fallback)`; for an exact dict, whose `get` cannot be replaced, without the method call.
inline Ref get(Obj mapping, Obj get_name, Obj key, Obj fallback) {
    if (PyDict_CheckExact(static_cast<PyObject*>(mapping))) {
        Ref v = dict_lookup(mapping, key);
        return v ? v : Ref::borrow(fallback);
    }
    return call_method(mapping, get_name, key, fallback);
}

/// Runs the handlers of the signals that arrived, as the interpreter does between two instructions: a point
/// where Python code runs (what was borrowed is read again after it). A handler's exception, KeyboardInterrupt
/// for Ctrl-C, is raised as Error.
inline void check_signals() { check(api(PyErr_CheckSignals)); }

/// Long loops check for signals once every this many rounds: a round of the generic code takes well under a
/// microsecond, and a check a few dozen instructions.
constexpr unsigned signal_interval = 64;

/// Iteration that survives mutation of the iterated container: `next()` gives null at the end. Every
/// `signal_interval` items it checks for signals before taking the next one, so `next()` can run Python code.
class Iter {
public:
    explicit Iter(Obj iterable) : it_(check(api(PyObject_GetIter, iterable))) {}
    Ref next() {
        if (++count_ % signal_interval == 0) check_signals();
        PyObject* v = api(PyIter_Next, it_.get());
        if (!v && PyErr_Occurred()) throw Error{};
        return Ref::steal(v);
    }

private:
    Ref it_;
    unsigned count_ = 0;
};

}  // namespace pyhost
