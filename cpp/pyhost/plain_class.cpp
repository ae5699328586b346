// Plain classes made by calling `type` itself, so that they are exactly what a class statement makes.
#include "pyhost/plain_class.hpp"

#include "pyhost/ops.hpp"

namespace pyhost {

Ref add_plain_class(PyObject* module, PyObject* function_type, const char* name, const char* doc,
                    std::span<const MethodSpec> methods) {
    Ref ns = new_dict();
    set_item(ns.get(), intern("__module__").get(), check(PyModule_GetNameObject(module)).get());
    set_item(ns.get(), intern("__qualname__").get(), str_from(name).get());
    set_item(ns.get(), intern("__doc__").get(), str_from(doc).get());
    for (const MethodSpec& spec : methods)
        set_item(ns.get(), intern(spec.name).get(), make_function(function_type, module, spec, name).get());
    Ref bases = check(PyTuple_Pack(1, reinterpret_cast<PyObject*>(&PyBaseObject_Type)));
    Ref cls = call(reinterpret_cast<PyObject*>(&PyType_Type), str_from(name).get(), bases.get(), ns.get());
    check(PyModule_AddObjectRef(module, name, cls.get()));
    return cls;
}

Ref import_into(PyObject* module, const char* name) {
    Ref mod = check(PyImport_ImportModule(name));
    check(PyModule_AddObjectRef(module, name, mod.get()));
    return mod;
}

Ref import_from_into(PyObject* module, const char* source, const char* name) {
    Ref fromlist = check(Py_BuildValue("(s)", name));
    Ref mod = check(PyImport_ImportModuleLevel(source, PyModule_GetDict(module), nullptr, fromlist.get(), 0));
    PyObject* obj = PyObject_GetAttrString(mod.get(), name);
    if (!obj) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw Error{};
        PyErr_Clear();
        PyErr_Format(PyExc_ImportError, "cannot import name '%s' from '%s'", name, source);
        throw Error{};
    }
    Ref ref = Ref::steal(obj);
    check(PyModule_AddObjectRef(module, name, ref.get()));
    return ref;
}

}  // namespace pyhost
