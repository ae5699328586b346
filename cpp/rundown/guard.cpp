// The guard of the native report: every step that the report reaches must be the module's own method as the
// instance finds it, and `re` the module's own with its own `match`, at the moment of the call. Nothing is
// remembered from one call to the next, and nothing is created on the instance.
#include "rundown/guard.hpp"

#include "rundown/state.hpp"

namespace rundown {

using pyhost::Call;

namespace {

// A lookup that failed reads as a replaced step: the generic path meets the same failure when it calls it.
bool clear_error() {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw pyhost::Error{};
    PyErr_Clear();
    return false;
}

// Whether the instance holds anything of its own: an attribute, or a __dict__ even if empty. It is asked of
// the instance's traversal, which visits just its class when there is none, and which creates nothing.
bool has_own_attributes(PyObject* self) {
    const traverseproc traverse = Py_TYPE(self)->tp_traverse;
    if (!traverse) return true;  // nothing tells: looked at name by name
    struct Seen {
        PyObject* type;
        bool other;
    } seen{reinterpret_cast<PyObject*>(Py_TYPE(self)), false};
    traverse(self, [](PyObject* o, void* arg) -> int {
        auto* s = static_cast<Seen*>(arg);
        if (o == s->type) return 0;
        s->other = true;
        return 1;
    }, &seen);
    return seen.other;
}

// Whether `self.<step>` finds the step's own method for every step, as the interpreter finds a method it
// calls: on the class first (where anything else, a descriptor of its own included, is a replacement and is
// not called), then among the instance's own attributes, looked at without creating its __dict__.
bool steps_untouched(const State& st, PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    for (std::size_t i = 0; i < st.steps.size(); ++i) {
        PyObject* found = pyhost::api(_PyType_Lookup, type, st.step_names[i].get());  // borrowed
        if (pyhost::spec_of(found, st.function_type.get()) != &st.steps[i]) {
            if (PyErr_Occurred()) throw pyhost::Error{};
            return false;
        }
    }
    if (!has_own_attributes(self)) return true;
    for (const Ref& name : st.step_names) {
        PyObject* found = nullptr;
        const int unbound = pyhost::api(_PyObject_GetMethod, self, name.get(), &found);
        const Ref held = Ref::steal(found);
        if (!found) return clear_error();
        if (!unbound) return false;  // an attribute of the instance's own
    }
    return true;
}

}  // namespace

bool re_untouched(const Call& c) {
    const State& st = c.state<State>();
    PyObject* re = pyhost::api(PyDict_GetItemWithError, PyModule_GetDict(c.module()), st.re.get());
    if (re != st.re_module.get() || !re || !PyModule_Check(re)) {
        if (PyErr_Occurred()) throw pyhost::Error{};
        return false;
    }
    PyObject* match = pyhost::api(PyDict_GetItemWithError, PyModule_GetDict(re), st.match.get());
    if (!match && PyErr_Occurred()) throw pyhost::Error{};
    return match && match == st.re_match.get();
}

bool native_allowed(const Call& c) {
    const State& st = c.state<State>();
    // A class of its own attribute lookup may resolve any step anywhere.
    if (Py_TYPE(c.self)->tp_getattro != PyObject_GenericGetAttr) return false;
    // The lookups compare keys, and a key of another type than str may run Python code of its own (its
    // __eq__) that replaces a step already looked at. A second look sees what such code did the first time.
    for (int pass = 0; pass < 2; ++pass)
        if (!steps_untouched(st, c.self) || !re_untouched(c)) return false;
    return true;
}

}  // namespace rundown
