// Exception raising and matching with the interpreter's own rules and messages (Python/ceval.c, do_raise
// and the check of `except` clauses).
#include "pyhost/errors.hpp"

#include "pyhost/ops.hpp"

#include <utility>

namespace pyhost {
namespace {

// The instance that `raise exc` raises.
Ref instance_to_raise(Obj obj) {
    PyObject* exc = obj;
    if (PyExceptionInstance_Check(exc)) return Ref::borrow(exc);
    if (PyExceptionClass_Check(exc)) {
        Ref value = check(api(PyObject_CallNoArgs, exc));
        if (PyExceptionInstance_Check(value.get())) return value;
        api([&] {  // %R runs the class's repr, which a metaclass may define
            return PyErr_Format(PyExc_TypeError, "calling %R should have returned an instance of BaseException, not %R",
                                exc, Py_TYPE(value.get()));
        });
        throw Error{};
    }
    PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
    throw Error{};
}

[[noreturn]] void set_and_throw(PyObject* value) {
    // PyErr_SetObject chains the exception being handled as __context__, as a raise statement does.
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(value)), value);
    throw Error{};
}

}  // namespace

Caught::Caught() {
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    // Normalizing may call the exception class, i.e. Python code.
    api(PyErr_NormalizeException, &type, &value, &traceback);
    if (traceback) PyException_SetTraceback(value, traceback);
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    value_ = Ref::steal(value);
}

bool Caught::matches(Obj cls) const {
    PyObject* classes = cls;
    bool valid = PyExceptionClass_Check(classes);
    if (PyTuple_Check(classes)) {
        valid = true;
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(classes) && valid; ++i)
            valid = PyExceptionClass_Check(PyTuple_GET_ITEM(classes, i));
    }
    if (!valid) {
        PyErr_SetString(PyExc_TypeError, "catching classes that do not inherit from BaseException is not allowed");
        throw Error{};
    }
    return PyErr_GivenExceptionMatches(value_.get(), classes) != 0;
}

void Caught::reraise() {
    PyObject* value = value_.release();
    PyErr_Restore(Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(value))), value, PyException_GetTraceback(value));
    throw Error{};
}

// The exception being handled lives in a stack of slots: the thread's own, and one per running generator or
// coroutine, where an empty slot lets the one below show through. The public calls read the innermost exception
// that shows (not what the innermost slot holds) and write the innermost slot. Restoring what was read would,
// inside a generator whose slot is empty, write the caller's exception into the generator's slot, where it would
// stay after the caller's handler ends. So the innermost slot is emptied for a moment: if what shows then is no
// longer what showed before, the slot held it and gets it back; otherwise it held nothing (or the very exception
// below it, which shows through it alike) and is emptied again at the end.
Handling::Handling(Obj exc) noexcept {
    Ref shown = Ref::steal(PyErr_GetHandledException());
    PyErr_SetHandledException(Py_None);
    Ref below = Ref::steal(PyErr_GetHandledException());
    if (shown.get() != below.get()) previous_ = std::move(shown);
    PyErr_SetHandledException(exc);
}

// A thread being ended does not hold the GIL: the slot is left as it is, as a C frame would leave it.
Handling::~Handling() noexcept(false) {
    if (detail::thread_ending) return;
    PyErr_SetHandledException(previous_ ? previous_.get() : Py_None);
}

void raise(Obj exc) { set_and_throw(instance_to_raise(exc).get()); }

void raise_from(Obj exc, Obj cause) {
    Ref value = instance_to_raise(exc);
    PyException_SetCause(value.get(), Py_NewRef(static_cast<PyObject*>(cause)));
    set_and_throw(value.get());
}

}  // namespace pyhost
