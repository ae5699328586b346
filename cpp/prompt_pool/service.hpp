// The methods of PromptPoolService as bodies over Python objects: every step reached through the instance and
// every module-level name (json, Path, the domain classes) read from the module namespace at each use.
#pragma once

#include "prompt_pool/state.hpp"
#include "pyhost/function.hpp"

namespace prompt_pool {

using pyhost::Call;
using pyhost::Obj;

/// `fn(**dict(zip(keywords, values)))`: a call by keyword only, the names given as a tuple.
template <class... A>
Ref call_keywords(Obj fn, Obj keywords, const A&... values) {
    PyObject* argv[] = {nullptr, static_cast<PyObject*>(Obj(values))...};
    return pyhost::check(PyObject_Vectorcall(fn, argv + 1, PY_VECTORCALL_ARGUMENTS_OFFSET, keywords));
}

/// `obj.name(**dict(zip(keywords, values)))`, the method looked up on the object at the moment of the call.
template <class... A>
Ref call_method_keywords(Obj obj, Obj name, Obj keywords, const A&... values) {
    PyObject* argv[] = {obj, static_cast<PyObject*>(Obj(values))...};
    return pyhost::check(PyObject_VectorcallMethod(name, argv, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, keywords));
}

// Location and loading of the bank file.
Ref init(const Call& c);
Ref load_templates(const Call& c);
Ref resolve_question_templates_path(const Call& c);
Ref not_ready(const Call& c);

// Template items and question entries.
Ref parse_template(const Call& c);
Ref parse_question(const Call& c);

}  // namespace prompt_pool
