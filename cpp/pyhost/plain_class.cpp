// Plain classes made by calling `type` itself, so that they are exactly what a class statement makes.
#include "pyhost/plain_class.hpp"

#include "pyhost/compat.hpp"
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
    Ref bases = check(api([] { return PyTuple_Pack(1, reinterpret_cast<PyObject*>(&PyBaseObject_Type)); }));
    Ref cls = call(reinterpret_cast<PyObject*>(&PyType_Type), str_from(name).get(), bases.get(), ns.get());
    check(api(PyModule_AddObjectRef, module, name, cls.get()));
    return cls;
}

namespace {

// `__import__(name, globals, globals, fromlist, 0)` with the builtins' `__import__`: what an import statement at
// module level does.
Ref import_module(PyObject* module, const char* name, Obj fromlist) {
    Ref import = dict_lookup(PyEval_GetBuiltins(), intern("__import__"));
    if (!import) {
        PyErr_SetString(PyExc_ImportError, "__import__ not found");
        throw Error{};
    }
    PyObject* globals = PyModule_GetDict(module);
    return call(import, str_from(name), globals, globals, fromlist, integer(0));
}

// Whether `spec` is of a module still being executed (importlib's `_initializing`); false on any error.
bool initializing(Obj spec) {
    try {
        return spec && truthy(getattr(spec, intern("_initializing")));
    } catch (const Error&) {
        PyErr_Clear();
        return false;
    }
}

// `from mod import name` after the import: the attribute, else the submodule `mod.__name__ + "." + name` in
// sys.modules, else the interpreter's ImportError with its message, `name` and `path`.
Ref import_from(Obj mod, Obj name) {
    PyObject* found = nullptr;
    if (check(api(get_optional_attr, mod, name, &found))) return Ref::steal(found);
    Ref package = Ref::steal(api(PyObject_GetAttr, mod, intern("__name__")));
    if (package && !PyUnicode_Check(package.get())) package = Ref{};
    if (package) {
        Ref full = check(PyUnicode_FromFormat("%U.%U", package.get(), static_cast<PyObject*>(name)));
        if (Ref sub = Ref::steal(api(PyImport_GetModule, full.get()))) return sub;
        if (PyErr_Occurred()) throw Error{};
    }
    Ref path = Ref::steal(api(PyModule_GetFilenameObject, mod));
    Ref shown = package ? package : str_from("<unknown module name>");
    Ref message;
    if (!path || !PyUnicode_Check(path.get())) {
        PyErr_Clear();
        message = check(api([&] {
            return PyUnicode_FromFormat("cannot import name %R from %R (unknown location)", static_cast<PyObject*>(name),
                                        shown.get());
        }));
        path = Ref{};
    } else {
        Ref spec = Ref::steal(api(PyObject_GetAttr, mod, intern("__spec__")));
        PyErr_Clear();
        const char* format = initializing(spec) ? "cannot import name %R from partially initialized module %R "
                                                  "(most likely due to a circular import) (%S)"
                                                : "cannot import name %R from %R (%S)";
        message = check(api([&] {
            return PyUnicode_FromFormat(format, static_cast<PyObject*>(name), shown.get(), path.get());
        }));
    }
    api(PyErr_SetImportError, message.get(), package.get(), path.get());
    throw Error{};
}

}  // namespace

Ref import_into(PyObject* module, const char* name) {
    Ref mod = import_module(module, name, Py_None);
    check(api(PyModule_AddObjectRef, module, name, mod.get()));
    return mod;
}

void import_from_into(PyObject* module, const char* source, std::initializer_list<const char*> names) {
    Ref fromlist = check(api(PyTuple_New, static_cast<Py_ssize_t>(names.size())));
    Py_ssize_t i = 0;
    for (const char* name : names) PyTuple_SET_ITEM(fromlist.get(), i++, intern(name).release());
    Ref mod = import_module(module, source, fromlist);
    for (i = 0; i < PyTuple_GET_SIZE(fromlist.get()); ++i) {
        PyObject* name = PyTuple_GET_ITEM(fromlist.get(), i);
        check(api(PyDict_SetItem, PyModule_GetDict(module), name, import_from(mod, name).get()));
    }
}

}  // namespace pyhost
