// Owning references to Python objects, and the one error type that carries a raised Python exception
// through C++ code up to the boundary where CPython called us.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace pyhost {

/// Thrown when a C-API call failed and left a Python exception set; caught at the call boundary.
struct Error {};

/// An owned (strong) reference; null means "no object".
class Ref {
public:
    Ref() noexcept = default;
    Ref(const Ref& other) noexcept : p_(other.p_) { Py_XINCREF(p_); }
    Ref(Ref&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    Ref& operator=(Ref other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }

    /// Takes over a new reference.
    static Ref steal(PyObject* p) noexcept {
        Ref r;
        r.p_ = p;
        return r;
    }
    /// Takes a new reference to a borrowed object.
    static Ref borrow(PyObject* p) noexcept {
        Py_XINCREF(p);
        return steal(p);
    }

    PyObject* get() const noexcept { return p_; }
    PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    explicit operator bool() const noexcept { return p_ != nullptr; }

private:
    PyObject* p_ = nullptr;
};

/// A borrowed argument: a `PyObject*` or an owned reference that outlives the call it is passed to.
class Obj {
public:
    Obj(PyObject* p) noexcept : p_(p) {}
    Obj(const Ref& r) noexcept : p_(r.get()) {}
    operator PyObject*() const noexcept { return p_; }

private:
    PyObject* p_;
};

/// A new reference from a C-API call that returns null on error.
inline Ref check(PyObject* p) {
    if (!p) throw Error{};
    return Ref::steal(p);
}

/// A C-API status code: negative means an exception is set.
inline int check(int rc) {
    if (rc < 0) throw Error{};
    return rc;
}

/// Translates the C++ exception in flight into a Python exception; call only inside a catch block.
void set_error_from_exception() noexcept;

/// Runs `body` (returning a Ref) and hands its object to CPython, or null with an exception set.
template <class F>
PyObject* guarded(F&& body) noexcept {
    try {
        return body().release();
    } catch (...) {
        set_error_from_exception();
        return nullptr;
    }
}

}  // namespace pyhost
