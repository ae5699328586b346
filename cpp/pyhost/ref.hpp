// Owning references to Python objects, and the one error type that carries a raised Python exception
// through C++ code up to the boundary where CPython called us.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <utility>

namespace pyhost {

namespace detail {

// CPython 3.11 ends a daemon thread that wants the GIL after the main thread began finalizing with
// pthread_exit, from inside take_gil: deep in a C-API call that ran Python code (or in a finalizer that a
// release of ours ran), without the GIL. The forced unwind then passes our frames, whose owning references
// must leave the counts alone, as C frames that simply vanish do. Every call of ours that can run Python code
// goes through `api()` (or is a last release in ~Ref), which marks the thread before the unwind leaves it, so
// that the references of the enclosing frames are destroyed after the mark; a reference's destructor then
// reads one thread-local flag. A thread so marked never runs our code again. (One case stays out of reach:
// a finalizer run by a release during the unwinding of a C++ error, where the thread is ended; a second
// exception cannot leave a destructor during unwinding, so that ends the process.)
//
// Its initial-exec model also keeps memory running out a MemoryError in every thread. It marks the module as
// needing static TLS, so the loader places the module's whole TLS block, which holds the per-thread exception
// data of the C++ runtime linked into the module (CMakeLists.txt), in the static TLS area that comes with
// every thread: threads started after the import get it with their stack, and for those already running the
// loader fills their areas at the import or fails the import. A thread's first throw then finds that data in
// place instead of having the C library allocate it, which ends the process when memory has run out.
inline constinit thread_local bool thread_ending __attribute__((tls_model("initial-exec"))) = false;

/// Drops the last reference: the object's deallocation, which can run finalizers, i.e. Python code.
void release_last(PyObject* p);

/// In a catch-all handler: marks the thread when the exception in flight is not a C++ one, which is what the
/// forced unwind is. (It is matched this way rather than by `catch (abi::__forced_unwind&)`, which binds a
/// reference to the null object that such an exception carries.)
inline void mark_if_forced_unwind() noexcept {
    if (!std::current_exception()) thread_ending = true;
}

}  // namespace detail

/// Thrown when a C-API call failed and left a Python exception set; caught at the call boundary.
struct Error {};

/// An owned (strong) reference; null means "no object".
class Ref {
public:
    Ref() noexcept = default;
    Ref(const Ref& other) noexcept : p_(other.p_) { Py_XINCREF(p_); }
    Ref(Ref&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    // Not noexcept: releasing an object can run its finalizer, where the interpreter may end the thread.
    Ref& operator=(Ref other) {
        std::swap(p_, other.p_);
        return *this;
    }
    ~Ref() noexcept(false) {
        if (!p_ || detail::thread_ending) return;
        if (Py_REFCNT(p_) == 1) detail::release_last(p_);
        else Py_DECREF(p_);
    }

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

namespace detail {
template <class T>
const T& raw(const T& v) noexcept {
    return v;
}
inline PyObject* raw(const Ref& r) noexcept { return r.get(); }
inline PyObject* raw(const Obj& o) noexcept { return o; }
}  // namespace detail

/// Calls `fn(args...)`, a C-API function that can run Python code (a call, a comparison, a hash, a
/// conversion, a truth test, or any allocation that can start a collection), marking the thread when the
/// interpreter ends it from inside.
template <class R, class... P, class... A>
R api(R (*fn)(P...), const A&... args) {
    try {
        return fn(detail::raw(args)...);
    } catch (...) {
        detail::mark_if_forced_unwind();
        throw;
    }
}

/// `api()` for a call that is not a plain function call (a variadic C-API function, say): runs `body()`.
template <class F>
auto api(F&& body) -> decltype(body()) {
    try {
        return body();
    } catch (...) {
        detail::mark_if_forced_unwind();
        throw;
    }
}

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
void set_error_from_exception();

/// Runs `body` (returning a Ref) and hands its object to CPython, or null with an exception set. The one
/// place where C++ errors become Python errors; a thread's forced unwind passes through it unchanged, and
/// so nothing between CPython and `body` may be noexcept.
template <class F>
PyObject* guarded(F&& body) {
    try {
        return body().release();
    } catch (...) {
        if (!std::current_exception()) {  // the thread's forced unwind: it passes, marking the thread
            detail::thread_ending = true;
            throw;
        }
        set_error_from_exception();
        return nullptr;
    }
}

/// `guarded()` for a module's exec step: 0, or -1 with an exception set.
template <class F>
int guarded_status(F&& body) {
    try {
        body();
        return 0;
    } catch (...) {
        if (!std::current_exception()) {  // the thread's forced unwind: it passes, marking the thread
            detail::thread_ending = true;
            throw;
        }
        set_error_from_exception();
        return -1;
    }
}

/// A module's state slot: the module keeps a pointer to its `State`, made by its exec step and deleted when
/// the module is cleared or freed, so that nothing is destroyed that was never made. Null before exec
/// (the interpreter allocates the slot zero-filled at exec) and after clearing.
template <class State>
State* state_of(PyObject* module) noexcept {
    void* slot = PyModule_GetState(module);
    return slot ? *static_cast<State**>(slot) : nullptr;
}

/// Makes the state of a module that is executing.
template <class State>
State& make_state(PyObject* module) {
    auto** slot = static_cast<State**>(PyModule_GetState(module));
    if (!slot) throw Error{};
    *slot = new State();
    return **slot;
}

/// Deletes the state of a module, if it has one; its references are released, which can run Python code.
/// Written to be the module's `m_clear` slot.
template <class State>
int clear_state(PyObject* module) {
    void* slot = PyModule_GetState(module);
    if (slot) delete std::exchange(*static_cast<State**>(slot), nullptr);
    return 0;
}

/// The same as the module's `m_free` slot.
template <class State>
void free_state(void* module) {
    clear_state<State>(static_cast<PyObject*>(module));
}

}  // namespace pyhost
