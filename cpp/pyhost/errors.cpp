// Exception raising and matching with the interpreter's own rules and messages (Python/ceval.c, do_raise
// and the check of `except` clauses).
#include "pyhost/errors.hpp"

#include "pyhost/ops.hpp"

#include <algorithm>
#include <cstdint>
#include <string_view>
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

#if PY_VERSION_HEX >= 0x030D0000
// The suggestion of 3.13's "Did you mean" (Python/suggestions.c): a Levenshtein distance over the UTF-8 bytes
// of the two names, in which changing only a letter's case costs half an edit, given up past `max_cost` and for
// names longer than 40 bytes once their common prefix and suffix are set aside.
constexpr std::size_t move_cost = 2, case_cost = 1, max_name_bytes = 40;

std::size_t substitution_cost(char a, char b) {
    if ((a & 31) != (b & 31)) return move_cost;
    if (a == b) return 0;
    if ('A' <= a && a <= 'Z') a = static_cast<char>(a + ('a' - 'A'));
    if ('A' <= b && b <= 'Z') b = static_cast<char>(b + ('a' - 'A'));
    return a == b ? case_cost : move_cost;
}

std::size_t edit_distance(std::string_view a, std::string_view b, std::size_t max_cost) {
    while (!a.empty() && !b.empty() && a.front() == b.front()) a.remove_prefix(1), b.remove_prefix(1);
    while (!a.empty() && !b.empty() && a.back() == b.back()) a.remove_suffix(1), b.remove_suffix(1);
    if (a.empty() || b.empty()) return (a.size() + b.size()) * move_cost;
    if (a.size() > max_name_bytes || b.size() > max_name_bytes) return max_cost + 1;
    if (b.size() < a.size()) std::swap(a, b);
    if ((b.size() - a.size()) * move_cost > max_cost) return max_cost + 1;
    // One row of the matrix, updated in place: row[i] is the cost of b[:j] against a[:i + 1].
    std::size_t row[max_name_bytes];
    for (std::size_t i = 0; i < a.size(); ++i) row[i] = (i + 1) * move_cost;
    std::size_t result = 0;
    for (std::size_t j = 0; j < b.size(); ++j) {
        // The interpreter starts each row from j edits, not j + 1; the suggestions follow it.
        std::size_t diagonal = result = j * move_cost;
        std::size_t minimum = SIZE_MAX;
        for (std::size_t i = 0; i < a.size(); ++i) {
            const std::size_t substitute = diagonal + substitution_cost(b[j], a[i]);
            diagonal = row[i];
            result = std::min(std::min(result, diagonal) + move_cost, substitute);
            row[i] = result;
            minimum = std::min(minimum, result);
        }
        if (minimum > max_cost) return max_cost + 1;
    }
    return result;
}

std::string_view utf8(PyObject* s) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(s, &size);
    if (!data) throw Error{};
    return {data, static_cast<std::size_t>(size)};
}

// The first of the names nearest to `key`, borrowed, or null when none is near enough; a name that cannot be
// written in UTF-8 (a lone surrogate) has no suggestion, as in the interpreter, which drops that error.
PyObject* suggestion(PyObject* key, PyObject* names, Py_ssize_t count) {
    try {
        const std::string_view wrong = utf8(key);
        PyObject* best = nullptr;
        std::size_t best_distance = SIZE_MAX;
        for (Py_ssize_t i = 0; i < count; ++i) {
            const std::string_view name = utf8(PyTuple_GET_ITEM(names, i));
            if (name == wrong) continue;  // a str subclass whose __eq__ denied it: the same text is no suggestion
            const std::size_t max_distance =
                std::min((wrong.size() + name.size() + 3) * move_cost / 6, best_distance - 1);
            const std::size_t distance = edit_distance(wrong, name, max_distance);
            if (distance > max_distance) continue;
            best = PyTuple_GET_ITEM(names, i);
            best_distance = distance;
        }
        return best;
    } catch (const Error&) {
        PyErr_Clear();
        return nullptr;
    }
}
#endif

}  // namespace

void raise_unexpected_keyword(PyObject* qualname, PyObject* key, PyObject* names, Py_ssize_t count) {
#if PY_VERSION_HEX >= 0x030D0000
    if (PyObject* near = suggestion(key, names, count)) {
        // %S runs the key's __str__, which a str subclass may define.
        api([&] {
            return PyErr_Format(PyExc_TypeError, "%U() got an unexpected keyword argument '%S'. Did you mean '%S'?",
                                qualname, key, near);
        });
        throw Error{};
    }
#else
    (void)names, (void)count;
#endif
    api([&] { return PyErr_Format(PyExc_TypeError, "%U() got an unexpected keyword argument '%S'", qualname, key); });
    throw Error{};
}

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
// stay after the caller's handler ends. So the innermost slot is emptied, and whether it held the exception that
// showed is told by that exception losing the slot's reference (ours keeps it alive): only then is it put back.
// Comparing with what shows once the slot is empty could not tell a slot holding the very exception below it
// (a generator that handles what its caller handles) from an empty one.
Handling::Handling(Obj exc) noexcept {
    Ref shown = Ref::steal(PyErr_GetHandledException());
    const Py_ssize_t held = shown ? Py_REFCNT(shown.get()) : 0;
    PyErr_SetHandledException(Py_None);
    if (shown && Py_REFCNT(shown.get()) < held) previous_ = std::move(shown);
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
