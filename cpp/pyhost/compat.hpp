// The few C-API names that differ between the interpreters the modules build for (CPython 3.11 to 3.13),
// each given one spelling here, so that the rest of the code reads the same on all of them.
#pragma once

#include "pyhost/ref.hpp"

namespace pyhost {

/// `getattr(obj, name)` with an AttributeError read as absence: 1 and `*result` set when found, 0 and null when
/// absent, -1 with the error set otherwise. Public from 3.13; earlier, the error is made and then dropped.
inline int get_optional_attr(PyObject* obj, PyObject* name, PyObject** result) {
#if PY_VERSION_HEX >= 0x030D0000
    return PyObject_GetOptionalAttr(obj, name, result);
#else
    *result = PyObject_GetAttr(obj, name);
    if (*result) return 1;
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
    PyErr_Clear();
    return 0;
#endif
}

/// A class's own namespace, borrowed. From 3.12 the interpreter's own static types (`object`, `dict`, ...) keep
/// theirs apart from the type object, where only `PyType_GetDict` reaches it, and `keep` then holds it; every
/// other type, each that a class statement makes among them, still has it in `tp_dict`, read there without a call.
inline PyObject* type_dict(PyTypeObject* type, Ref& keep) {
#if PY_VERSION_HEX >= 0x030C0000
    if (!type->tp_dict) {
        keep = Ref::steal(PyType_GetDict(type));
        return keep.get();
    }
#else
    (void)keep;
#endif
    return type->tp_dict;
}

}  // namespace pyhost
