// The guard of the native report: the instance's steps must all be the module's own methods and `re` the
// module's own, at the moment of the call.
#include "rundown/fast/lines.hpp"
#include "rundown/fast/report.hpp"

namespace rundown::fast {

namespace {

bool class_replaces_no_step(State& st, PyTypeObject* type) {
    if (type == st.verified_type && PyType_HasFeature(type, Py_TPFLAGS_VALID_VERSION_TAG) &&
        type->tp_version_tag == st.verified_tag)
        return true;
    for (std::size_t i = 0; i < st.steps.size(); ++i)
        if (pyhost::spec_of(_PyType_Lookup(type, st.step_names[i].get()), st.function_type.get()) != &st.steps[i])
            return false;
    // Any change to the class or its bases gives it a new version tag, which ends this shortcut.
    if (PyType_HasFeature(type, Py_TPFLAGS_VALID_VERSION_TAG)) {
        st.verified_type = type;
        st.verified_tag = type->tp_version_tag;
    }
    return true;
}

bool instance_replaces_no_step(const State& st, PyObject* self) {
    pyhost::Ref dict = pyhost::Ref::steal(PyObject_GenericGetDict(self, nullptr));
    if (!dict) {
        PyErr_Clear();  // an instance without a __dict__ holds no attribute of its own
        return true;
    }
    if (PyDict_GET_SIZE(dict.get()) == 0) return true;
    for (const Ref& name : st.step_names) {
        if (PyDict_GetItemWithError(dict.get(), name.get())) return false;
        if (PyErr_Occurred()) throw pyhost::Error{};
    }
    return true;
}

}  // namespace

bool re_untouched(const pyhost::Call& c) {
    const State& st = c.state<State>();
    PyObject* re = PyDict_GetItemWithError(PyModule_GetDict(c.module()), st.re.get());
    if (re != st.re_module.get()) {
        if (PyErr_Occurred()) throw pyhost::Error{};
        return false;
    }
    PyObject* match = PyDict_GetItemWithError(PyModule_GetDict(re), st.match.get());
    if (!match && PyErr_Occurred()) throw pyhost::Error{};
    return match == st.re_match.get();
}

bool allowed(const pyhost::Call& c) {
    State& st = c.state<State>();
    PyTypeObject* type = Py_TYPE(c.self);
    // A class of its own attribute lookup may resolve any step anywhere.
    if (type->tp_getattro != PyObject_GenericGetAttr) return false;
    return class_replaces_no_step(st, type) && instance_replaces_no_step(st, c.self) && re_untouched(c);
}

}  // namespace rundown::fast
