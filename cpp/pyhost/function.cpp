// The method type: binding, argument parsing with CPython's own error messages, exact-type checks,
// and the attributes that make `inspect` and `help()` see a method like a Python function.
#include "pyhost/function.hpp"

#include "pyhost/errors.hpp"
#include "pyhost/ops.hpp"

#include <pthread.h>
#include <structmember.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>

namespace pyhost {
namespace {

constexpr Py_ssize_t max_slots = 8;  // self and the declared parameters

struct Function {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    const MethodSpec* spec;
    Py_ssize_t nslots;       // self + declared parameters
    Py_ssize_t npositional;  // self + positional-or-keyword parameters
    Py_ssize_t ndefaults;    // trailing positional parameters with a default
    PyObject* module;
    PyObject* name;
    PyObject* qualname;
    PyObject* modname;
    PyObject* doc;
    PyObject* annotations;
    PyObject* defaults;    // tuple or null
    PyObject* kwdefaults;  // dict or null
    PyObject* varnames;    // tuple: "self", then the declared parameter names
    PyObject* dict;
    PyObject* weaklist;
};

Function* as_function(PyObject* o) { return reinterpret_cast<Function*>(o); }

const Param& param_of(const Function* f, Py_ssize_t slot) { return f->spec->params[static_cast<std::size_t>(slot - 1)]; }
bool has_default(const Function* f, Py_ssize_t slot) { return slot > 0 && param_of(f, slot).default_none; }

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'": how CPython lists missing arguments.
Ref quoted_names(const Function* f, Py_ssize_t from, Py_ssize_t to, PyObject* const* slots, Py_ssize_t& count) {
    Ref names[max_slots];
    count = 0;
    for (Py_ssize_t i = from; i < to; ++i) {
        if (slots[i] || has_default(f, i)) continue;
        names[count++] = check(PyUnicode_FromFormat("'%U'", PyTuple_GET_ITEM(f->varnames, i)));
    }
    Ref out = str_from("");
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (i > 0) out = concat(out, str_from(count == 2 ? " and " : (i == count - 1 ? ", and " : ", ")));
        out = concat(out, names[i]);
    }
    return out;
}

void report_missing(const Function* f, PyObject* const* slots) {
    Py_ssize_t count = 0;
    Ref names = quoted_names(f, 0, f->npositional, slots, count);
    const char* kind = "positional";
    if (count == 0) {
        names = quoted_names(f, f->npositional, f->nslots, slots, count);
        kind = "keyword-only";
    }
    if (count == 0) return;
    PyErr_Format(PyExc_TypeError, "%U() missing %zd required %s argument%s: %U", f->qualname, count, kind,
                 count == 1 ? "" : "s", names.get());
    throw Error{};
}

[[noreturn]] void report_too_many(const Function* f, Py_ssize_t given, PyObject* const* slots) {
    Py_ssize_t kwonly_given = 0;
    for (Py_ssize_t i = f->npositional; i < f->nslots; ++i) kwonly_given += slots[i] != nullptr;
    Ref sig = f->ndefaults ? check(PyUnicode_FromFormat("from %zd to %zd", f->npositional - f->ndefaults, f->npositional))
                           : check(PyUnicode_FromFormat("%zd", f->npositional));
    const bool plural = f->ndefaults || f->npositional != 1;
    Ref kwonly = kwonly_given ? check(PyUnicode_FromFormat(" positional argument%s (and %zd keyword-only argument%s)",
                                                           given != 1 ? "s" : "", kwonly_given,
                                                           kwonly_given != 1 ? "s" : ""))
                              : str_from("");
    PyErr_Format(PyExc_TypeError, "%U() takes %U positional argument%s but %zd%U %s given", f->qualname, sig.get(),
                 plural ? "s" : "", given, kwonly.get(), given == 1 && !kwonly_given ? "was" : "were");
    throw Error{};
}

// Binds positional and keyword arguments to slots as CPython does for a plain `def`, in its order of checks.
void bind(const Function* f, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** slots) {
    for (Py_ssize_t i = 0; i < nargs && i < f->npositional; ++i) slots[i] = args[i];
    if (kwnames) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            PyObject* key = PyTuple_GET_ITEM(kwnames, k);  // the caller's tuple, alive for the whole call
            if (!PyUnicode_Check(key)) {
                PyErr_Format(PyExc_TypeError, "%U() keywords must be strings", f->qualname);
                throw Error{};
            }
            Py_ssize_t slot = -1;
            for (Py_ssize_t j = 0; j < f->nslots && slot < 0; ++j)
                if (PyTuple_GET_ITEM(f->varnames, j) == key) slot = j;
            for (Py_ssize_t j = 0; j < f->nslots && slot < 0; ++j)
                if (equals(PyTuple_GET_ITEM(f->varnames, j), key)) slot = j;
            if (slot < 0) raise_unexpected_keyword(f->qualname, key, f->varnames, f->nslots);
            if (slots[slot]) {
                api([&] { return PyErr_Format(PyExc_TypeError, "%U() got multiple values for argument '%S'", f->qualname, key); });
                throw Error{};
            }
            slots[slot] = args[nargs + k];
        }
    }
    if (nargs > f->npositional) report_too_many(f, nargs, slots);
    report_missing(f, slots);
    for (Py_ssize_t i = 1; i < f->nslots; ++i)
        if (!slots[i]) slots[i] = Py_None;  // only parameters whose default is None can be left out
}

const char* expected_name(Accept a) {
    switch (a) {
        case Accept::dict: return "dict";
        case Accept::list: return "list";
        case Accept::str: return "str";
        case Accept::str_or_none: return "str or None";
        case Accept::number: return "a number";
        case Accept::any: break;
    }
    return "anything";
}

bool accepts(Accept a, PyObject* v) {
    switch (a) {
        case Accept::any: return true;
        case Accept::dict: return PyDict_CheckExact(v);
        case Accept::list: return PyList_CheckExact(v);
        case Accept::str: return PyUnicode_CheckExact(v);
        case Accept::str_or_none: return v == Py_None || PyUnicode_CheckExact(v);
        case Accept::number: return PyNumber_Check(v) != 0;
    }
    return false;
}

// The method calls in progress on this thread, and the bounds of its stack once a nesting deep enough to need
// them has looked them up; all empty again when the outermost call returns, so nothing is kept between calls.
// Initial-exec, as every thread's data of the module is (see detail::thread_ending): reading it allocates nothing.
struct ThreadCalls {
    unsigned depth;
    const char* stack_low;   // null: not looked up in this outermost call
    const char* stack_high;  // equal to stack_low: not known, and not checked
};
constinit thread_local ThreadCalls thread_calls __attribute__((tls_model("initial-exec"))) = {};

// Nestings of method calls up to this depth never look at the stack: a report's steps nest less deeply than
// this, so only re-entry (a step or a value's __str__ calling a report again) pays for the look-up, once.
constexpr unsigned stack_check_depth = 16;

// The stack a call leaves for what it runs before the next check (its own frames, the interpreter's between two
// method calls) and for raising the error. The sanitizers' frames are several times larger.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t stack_margin = 128 * 1024;
#else
constexpr std::size_t stack_margin = 32 * 1024;
#endif

[[gnu::noinline, gnu::cold]] void find_stack_bounds() {
    pthread_attr_t attr;
    const int rc = pthread_getattr_np(pthread_self(), &attr);
    if (rc == ENOMEM) {
        PyErr_NoMemory();
        throw Error{};
    }
    void* low = nullptr;
    std::size_t size = 0;
    if (rc == 0) {
        pthread_attr_getstack(&attr, &low, &size);
        pthread_attr_destroy(&attr);
    }
    thread_calls.stack_low = low ? static_cast<const char*>(low) : reinterpret_cast<const char*>(1);
    thread_calls.stack_high = thread_calls.stack_low + size;
}

// One level of the recursion per method call, as a Python function call counts one frame. The count alone
// does not bound the C stack: a level of re-entry through a method (its body, the interpreter's frames of the
// __str__ or step it calls) takes far more stack than the Python frames the limit was chosen for, and a
// thread may have a small stack. So a deeply nested call also checks the stack left on the thread, as later
// interpreters do, and raises RecursionError where the next levels could overflow it.
class Level {
public:
    Level() {
        if (Py_EnterRecursiveCall(" while calling a Python object")) throw Error{};
        ++thread_calls.depth;
    }
    // A thread being ended does not hold the GIL: the interpreter's count is left as a C frame would leave it.
    ~Level() {
        if (--thread_calls.depth == 0) thread_calls.stack_low = thread_calls.stack_high = nullptr;
        if (!detail::thread_ending) Py_LeaveRecursiveCall();
    }
    Level(const Level&) = delete;
    Level& operator=(const Level&) = delete;

    static void check_stack() {
        if (thread_calls.depth < stack_check_depth) return;
        if (!thread_calls.stack_low) find_stack_bounds();
        const auto* here = static_cast<const char*>(__builtin_frame_address(0));
        // Outside the thread's stack (a stack of a coroutine library, say) nothing is known of what is left.
        if (here >= thread_calls.stack_low && here < thread_calls.stack_high &&
            static_cast<std::size_t>(here - thread_calls.stack_low) < stack_margin) {
            PyErr_SetString(PyExc_RecursionError, "maximum recursion depth exceeded while calling a Python object");
            throw Error{};
        }
    }
};

// The body's call, as the interpreter starts a function: a level of the recursion, then the signal handlers
// when a signal arrived (Python code, before the body reads anything).
Ref run(const Function* f, const Call& call) {
    Level level;
    Level::check_stack();
    check_signals();
    return f->spec->body(call);
}

[[noreturn, gnu::cold]] void report_wrong_type(const Function* f, Py_ssize_t slot, PyObject* v) {
    const Param& p = param_of(f, slot);
    PyErr_Format(PyExc_TypeError, "%U() argument '%s' must be %s, not %s", f->qualname, p.name,
                 expected_name(p.accept), v == Py_None ? "None" : Py_TYPE(v)->tp_name);
    throw Error{};
}

// A call with keywords, defaults or numbers to convert: its slots are bound, checked and converted in this
// frame, which a re-entered report seldom passes through (see call_body).
[[gnu::noinline]] Ref call_bound(PyObject* callable, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    const Function* f = as_function(callable);
    PyObject* slots[max_slots] = {};
    if (kwnames || nargs != f->nslots || f->npositional != f->nslots) bind(f, args, nargs, kwnames, slots);
    else std::copy(args, args + nargs, slots);
    Ref converted[max_slots];
    for (Py_ssize_t i = 1; i < f->nslots; ++i) {
        const Param& p = param_of(f, i);
        if (!accepts(p.accept, slots[i])) report_wrong_type(f, i, slots[i]);
        if (p.accept == Accept::number) {
            converted[i] = as_int(slots[i]);
            slots[i] = converted[i].get();
        }
    }
    return run(f, Call{callable, slots[0], slots + 1});
}

// Each level of a re-entered report passes here at least twice, so the common call (every argument by
// position, every number an exact int, which int() returns as it is) keeps a small frame: the caller's
// arguments are the body's.
Ref call_body(PyObject* callable, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    const Function* f = as_function(callable);
    if (kwnames || nargs != f->nslots || f->npositional != f->nslots) return call_bound(callable, args, nargs, kwnames);
    for (Py_ssize_t i = 1; i < f->nslots; ++i) {
        const Accept accept = param_of(f, i).accept;
        if (accept == Accept::number && !PyLong_CheckExact(args[i])) return call_bound(callable, args, nargs, kwnames);
        if (!accepts(accept, args[i])) report_wrong_type(f, i, args[i]);
    }
    return run(f, Call{callable, args[0], args + 1});
}

// Not noexcept, as no entry point below that can run Python code is: see guarded().
PyObject* function_vectorcall(PyObject* callable, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    return guarded([&] { return call_body(callable, args, PyVectorcall_NARGS(nargsf), kwnames); });
}

// A bound method is tracked by the collector: making one can run Python code.
PyObject* function_descr_get(PyObject* self, PyObject* obj, PyObject*) {
    if (!obj || obj == Py_None) return Py_NewRef(self);
    return api(PyMethod_New, self, obj);
}

PyObject* function_repr(PyObject* self) noexcept {
    return PyUnicode_FromFormat("<function %U at %p>", as_function(self)->qualname, self);
}

int function_traverse(PyObject* self, visitproc visit, void* arg) noexcept {
    Function* f = as_function(self);
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(f->module);
    Py_VISIT(f->modname);
    Py_VISIT(f->doc);
    Py_VISIT(f->annotations);
    Py_VISIT(f->defaults);
    Py_VISIT(f->kwdefaults);
    Py_VISIT(f->dict);
    return 0;
}

// Releasing the members can run their finalizers.
int function_clear(PyObject* self) {
    Function* f = as_function(self);
    Py_CLEAR(f->module);
    Py_CLEAR(f->name);
    Py_CLEAR(f->qualname);
    Py_CLEAR(f->modname);
    Py_CLEAR(f->doc);
    Py_CLEAR(f->annotations);
    Py_CLEAR(f->defaults);
    Py_CLEAR(f->kwdefaults);
    Py_CLEAR(f->varnames);
    Py_CLEAR(f->dict);
    return 0;
}

void function_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    if (as_function(self)->weaklist) PyObject_ClearWeakRefs(self);
    function_clear(self);
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* get_str_field(PyObject* self, void* closure) noexcept {
    PyObject* Function::*field = closure ? &Function::qualname : &Function::name;
    return Py_NewRef(as_function(self)->*field);
}

int set_str_field(PyObject* self, PyObject* value, void* closure) {
    const char* attr = closure ? "__qualname__" : "__name__";
    if (!value || !PyUnicode_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s must be set to a string object", attr);
        return -1;
    }
    PyObject* Function::*field = closure ? &Function::qualname : &Function::name;
    Py_SETREF(as_function(self)->*field, Py_NewRef(value));
    return 0;
}

PyObject* get_annotations(PyObject* self, void*) noexcept { return Py_NewRef(as_function(self)->annotations); }

int set_annotations(PyObject* self, PyObject* value, void*) {
    if (!value || !PyDict_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__annotations__ must be set to a dict object");
        return -1;
    }
    Py_SETREF(as_function(self)->annotations, Py_NewRef(value));
    return 0;
}

PyObject* get_globals(PyObject* self, void*) noexcept { return Py_NewRef(PyModule_GetDict(as_function(self)->module)); }

// inspect.Signature built from the live __annotations__, so that changes to them show.
PyObject* get_signature(PyObject* self, void*) {
    return guarded([&] {
        Function* f = as_function(self);
        Ref inspect = check(api(PyImport_ImportModule, "inspect"));
        Ref parameter = getattr(inspect.get(), intern("Parameter").get());
        Ref empty = getattr(parameter.get(), intern("empty").get());
        Ref positional = getattr(parameter.get(), intern("POSITIONAL_OR_KEYWORD").get());
        Ref keyword = getattr(parameter.get(), intern("KEYWORD_ONLY").get());
        Ref annotation_key = intern("annotation");
        Ref default_key = intern("default");
        Ref params = new_list();
        for (Py_ssize_t i = 0; i < f->nslots; ++i) {
            PyObject* name = PyTuple_GET_ITEM(f->varnames, i);
            Ref kind = (i >= f->npositional) ? keyword : positional;
            Ref posargs = tuple2(name, kind.get());
            Ref kwargs = new_dict();
            Ref ann = dict_lookup(f->annotations, name);
            set_item(kwargs.get(), annotation_key.get(), ann ? ann : empty);
            if (has_default(f, i)) set_item(kwargs.get(), default_key.get(), Py_None);
            append(params.get(), check(api(PyObject_Call, parameter.get(), posargs.get(), kwargs.get())).get());
        }
        Ref signature_type = getattr(inspect.get(), intern("Signature").get());
        Ref ret = dict_lookup(f->annotations, intern("return"));
        Ref posargs = check(api([&] { return PyTuple_Pack(1, params.get()); }));
        Ref kwargs = new_dict();
        set_item(kwargs.get(), intern("return_annotation").get(), ret ? ret : empty);
        return check(api(PyObject_Call, signature_type.get(), posargs.get(), kwargs.get()));
    });
}

PyMemberDef function_members[] = {
    {"__module__", T_OBJECT, offsetof(Function, modname), 0, nullptr},
    {"__doc__", T_OBJECT, offsetof(Function, doc), 0, nullptr},
    {"__defaults__", T_OBJECT, offsetof(Function, defaults), READONLY, nullptr},
    {"__kwdefaults__", T_OBJECT, offsetof(Function, kwdefaults), READONLY, nullptr},
    {"__dictoffset__", T_PYSSIZET, offsetof(Function, dict), READONLY, nullptr},
    {"__weaklistoffset__", T_PYSSIZET, offsetof(Function, weaklist), READONLY, nullptr},
    {"__vectorcalloffset__", T_PYSSIZET, offsetof(Function, vectorcall), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

int qualname_marker;  // closure that selects __qualname__ in the shared string accessors

PyGetSetDef function_getset[] = {
    {"__name__", get_str_field, set_str_field, nullptr, nullptr},
    {"__qualname__", get_str_field, set_str_field, nullptr, &qualname_marker},
    {"__annotations__", get_annotations, set_annotations, nullptr, nullptr},
    {"__signature__", get_signature, nullptr, nullptr, nullptr},
    {"__globals__", get_globals, nullptr, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot function_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(function_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(function_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(function_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(function_repr)},
    {Py_tp_call, reinterpret_cast<void*>(PyVectorcall_Call)},
    {Py_tp_descr_get, reinterpret_cast<void*>(function_descr_get)},
    {Py_tp_members, function_members},
    {Py_tp_getset, function_getset},
    {0, nullptr},
};

}  // namespace

PyObject* Call::module() const {
    PyObject* m = as_function(function)->module;
    if (m) return m;
    PyErr_SetString(PyExc_SystemError, "the method's module was cleared");
    throw Error{};
}

void* Call::module_state() const {
    void* slot = PyModule_GetState(module());
    if (slot && *static_cast<void**>(slot)) return *static_cast<void**>(slot);
    PyErr_SetString(PyExc_SystemError, "the module's state was cleared");
    throw Error{};
}

Ref Call::global(Obj name) const {
    if (Ref v = dict_lookup(PyModule_GetDict(module()), name)) return v;
    if (Ref v = dict_lookup(PyEval_GetBuiltins(), name)) return v;
    PyErr_Format(PyExc_NameError, "name '%U' is not defined", static_cast<PyObject*>(name));
    throw Error{};
}

Ref make_function_type(PyObject* module, const char* qualified_type_name) {
    PyType_Spec spec{
        qualified_type_name,
        sizeof(Function),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL | Py_TPFLAGS_METHOD_DESCRIPTOR |
            Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
        function_slots,
    };
    return check(api(PyType_FromModuleAndSpec, module, &spec, static_cast<PyObject*>(nullptr)));
}

const MethodSpec* spec_of(PyObject* obj, PyObject* function_type) noexcept {
    if (!obj || Py_TYPE(obj) != reinterpret_cast<PyTypeObject*>(function_type)) return nullptr;
    return as_function(obj)->spec;
}

Ref make_function(PyObject* function_type, PyObject* module, const MethodSpec& spec, const char* owner) {
    const auto nparams = static_cast<Py_ssize_t>(spec.params.size());
    if (nparams + 1 > max_slots) {
        PyErr_Format(PyExc_SystemError, "%s.%s declares too many parameters", owner, spec.name);
        throw Error{};
    }
    auto* type = reinterpret_cast<PyTypeObject*>(function_type);
    Ref obj = check(api(type->tp_alloc, type, Py_ssize_t{0}));
    Function* f = as_function(obj.get());
    f->vectorcall = function_vectorcall;
    f->spec = &spec;
    f->nslots = 1 + nparams;
    f->module = Py_NewRef(module);
    f->name = intern(spec.name).release();
    f->qualname = check(PyUnicode_FromFormat("%s.%s", owner, spec.name)).release();
    f->modname = check(PyModule_GetNameObject(module)).release();
    f->doc = spec.doc ? str_from(spec.doc).release() : Py_NewRef(Py_None);
    f->annotations = new_dict().release();
    f->varnames = check(api(PyTuple_New, f->nslots)).release();
    PyTuple_SET_ITEM(f->varnames, 0, intern("self").release());
    f->npositional = 1;
    Py_ssize_t kw_defaults = 0;
    for (Py_ssize_t i = 1; i < f->nslots; ++i) {
        const Param& p = spec.params[static_cast<std::size_t>(i - 1)];
        Ref name = intern(p.name);
        set_item(f->annotations, name.get(), str_from(p.annotation).get());
        PyTuple_SET_ITEM(f->varnames, i, name.release());
        if (!p.keyword_only) {
            f->npositional = i + 1;
            f->ndefaults += p.default_none;
        } else {
            kw_defaults += p.default_none;
        }
    }
    set_item(f->annotations, intern("return").get(), str_from(spec.returns).get());
    if (f->ndefaults) {
        f->defaults = check(api(PyTuple_New, f->ndefaults)).release();
        for (Py_ssize_t i = 0; i < f->ndefaults; ++i) PyTuple_SET_ITEM(f->defaults, i, Py_NewRef(Py_None));
    }
    if (kw_defaults) {
        f->kwdefaults = new_dict().release();
        for (Py_ssize_t i = f->npositional; i < f->nslots; ++i)
            if (has_default(f, i)) set_item(f->kwdefaults, PyTuple_GET_ITEM(f->varnames, i), Py_None);
    }
    return obj;
}

}  // namespace pyhost
