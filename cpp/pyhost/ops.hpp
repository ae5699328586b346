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

inline Ref new_list(Py_ssize_t n = 0) { return check(PyList_New(n)); }
inline void append(Obj list, Obj item) { check(PyList_Append(list, item)); }
inline Ref new_dict() { return check(PyDict_New()); }
inline void set_item(Obj dict, Obj key, Obj value) { check(PyDict_SetItem(dict, key, value)); }
inline void set_subscript(Obj obj, Obj key, Obj value) { check(PyObject_SetItem(obj, key, value)); }
inline Ref subscript(Obj obj, Obj key) { return check(PyObject_GetItem(obj, key)); }
inline Ref item_at(Obj seq, Py_ssize_t i) { return check(PySequence_GetItem(seq, i)); }
inline Ref tuple2(Obj a, Obj b) { return check(PyTuple_Pack(2, a, b)); }

inline bool truthy(Obj v) { return check(PyObject_IsTrue(v)) != 0; }
inline bool equals(Obj a, Obj b) { return check(PyObject_RichCompareBool(a, b, Py_EQ)) != 0; }
inline bool less(Obj a, Obj b) { return check(PyObject_RichCompareBool(a, b, Py_LT)) != 0; }
inline Py_ssize_t length(Obj v) {
    Py_ssize_t n = PyObject_Size(v);
    if (n < 0) throw Error{};
    return n;
}

inline Ref str(Obj v) { return check(PyObject_Str(v)); }
/// `format(v)`, what an f-string does with `{v}`.
inline Ref format(Obj v) { return check(PyObject_Format(v, nullptr)); }
inline Ref concat(Obj a, Obj b) { return check(PyUnicode_Concat(a, b)); }
inline Ref join(Obj sep, Obj items) { return check(PyUnicode_Join(sep, items)); }

inline Ref getattr(Obj obj, Obj name) { return check(PyObject_GetAttr(obj, name)); }

/// `obj.name(args...)`, looked up on the object at the moment of the call.
template <class... A>
Ref call_method(Obj obj, Obj name, const A&... args) {
    PyObject* argv[] = {obj, static_cast<PyObject*>(Obj(args))...};
    return check(PyObject_VectorcallMethod(name, argv, (1 + sizeof...(A)) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

/// `obj.name(args..., **kw)`, where the last `PyTuple_GET_SIZE(kwnames)` arguments are the keyword values.
template <class... A>
Ref call_method_kw(Obj obj, Obj name, Obj kwnames, const A&... args) {
    PyObject* argv[] = {obj, static_cast<PyObject*>(Obj(args))...};
    const auto npositional = static_cast<std::size_t>(1 + sizeof...(A) - PyTuple_GET_SIZE(static_cast<PyObject*>(kwnames)));
    return check(PyObject_VectorcallMethod(name, argv, npositional | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames));
}

/// `fn(args..., **kw)`, where the last `PyTuple_GET_SIZE(kwnames)` arguments are the keyword values.
template <class... A>
Ref call_kw(Obj fn, Obj kwnames, const A&... args) {
    PyObject* argv[] = {nullptr, static_cast<PyObject*>(Obj(args))...};
    const auto npositional = static_cast<std::size_t>(sizeof...(A) - PyTuple_GET_SIZE(static_cast<PyObject*>(kwnames)));
    return check(PyObject_Vectorcall(fn, argv + 1, npositional | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames));
}

/// `fn(args...)`.
template <class... A>
Ref call(Obj fn, const A&... args) {
    PyObject* argv[] = {nullptr, static_cast<PyObject*>(Obj(args))...};
    return check(PyObject_Vectorcall(fn, argv + 1, sizeof...(A) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

/// `mapping.get(key, fallback)`; for an exact dict, whose `get` cannot be replaced, without the method call.
inline Ref get(Obj mapping, Obj get_name, Obj key, Obj fallback) {
    if (PyDict_CheckExact(mapping)) {
        PyObject* v = PyDict_GetItemWithError(mapping, key);
        if (v) return Ref::borrow(v);
        if (PyErr_Occurred()) throw Error{};
        return Ref::borrow(fallback);
    }
    return call_method(mapping, get_name, key, fallback);
}

/// Iteration that survives mutation of the iterated container: `next()` gives null at the end.
class Iter {
public:
    explicit Iter(Obj iterable) : it_(check(PyObject_GetIter(iterable))) {}
    Ref next() {
        PyObject* v = PyIter_Next(it_.get());
        if (!v && PyErr_Occurred()) throw Error{};
        return Ref::steal(v);
    }

private:
    Ref it_;
};

}  // namespace pyhost
