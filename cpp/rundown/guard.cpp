// The guard of the native report: every step that the report reaches must be the module's own method as the
// instance finds it, and `re` the module's own with its own `match`, at the moment of the call. Nothing is
// remembered from one call to the next, and nothing is created on the instance.
#include "rundown/guard.hpp"

#include "pyhost/compat.hpp"

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

// What the interpreter's lookup of `name` on a class finds: the value in the first class along `mro` whose own
// namespace holds it, borrowed from that namespace (which its class, or the interpreter for its own types,
// keeps), or null. A comparison of keys that fails reads as absence,
// as in the interpreter's own lookup, which drops the error; the generic path then looks the name up itself.
PyObject* class_lookup(PyObject* mro, PyObject* name) {
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(mro); ++i) {
        Ref keep;
        PyObject* dict = pyhost::type_dict(reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(mro, i)), keep);
        if (!dict) continue;
        if (PyObject* found = pyhost::api(PyDict_GetItemWithError, dict, name)) return found;
        if (PyErr_Occurred()) {
            PyErr_Clear();
            return nullptr;
        }
    }
    return nullptr;
}

// Whether the instance's own attribute lookup gives `self.<step>` as the class's step bound to the instance,
// which is what the interpreter calls when the instance holds nothing of that name (a bound method of the same
// step on the same instance, held by the instance, calls the same code). Asked of the generic lookup, which
// makes that bound method, rather than of the instance's __dict__, which asking for would create. Making it may
// start a collection, whose Python code could replace a step as it could during the native report itself.
int bound_step(PyObject* self, PyObject* name, PyObject* function_type, const pyhost::MethodSpec* step) {
    const Ref found = Ref::steal(pyhost::api(PyObject_GenericGetAttr, self, name));
    if (!found) return -1;
    return PyMethod_Check(found.get()) && PyMethod_GET_SELF(found.get()) == self &&
           pyhost::spec_of(PyMethod_GET_FUNCTION(found.get()), function_type) == step;
}

// Whether `self.<step>` finds the step's own method for every step, as the interpreter finds a method it
// calls: on the class first (where anything else, a descriptor of its own included, is a replacement and is
// not called), then among the instance's own attributes, looked at without creating its __dict__.
bool steps_untouched(const State& st, PyObject* self) {
    // Held for the pass: a key's __eq__ may give the class other bases, which the next pass sees.
    const Ref mro = Ref::borrow(Py_TYPE(self)->tp_mro);
    if (!mro) return false;
    for (std::size_t i = 0; i < st.steps.size(); ++i) {
        PyObject* found = class_lookup(mro.get(), st.step_names[i].get());
        if (pyhost::spec_of(found, st.function_type.get()) != &st.steps[i]) return false;
    }
    if (!has_own_attributes(self)) return true;
    for (std::size_t i = 0; i < st.steps.size(); ++i) {
        const int bound = bound_step(self, st.step_names[i].get(), st.function_type.get(), &st.steps[i]);
        if (bound < 0) return clear_error();
        if (!bound) return false;  // an attribute of the instance's own
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
