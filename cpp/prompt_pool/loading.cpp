// Location, reading and file-level checks of question_templates.json: the constructor, the path resolution,
// the conversion of the two known read errors into PromptPoolNotReadyError, and the checks on "items".
#include "prompt_pool/service.hpp"
#include "pyhost/errors.hpp"

#include <initializer_list>

namespace prompt_pool {

using namespace pyhost;

namespace {

Ref joined(Ref path, std::initializer_list<PyObject*> parts) {
    for (PyObject* part : parts) path = true_divide(path, part);
    return path;
}

// `json.loads(path.read_text(encoding="utf-8"))`, with a missing file and a decode error turned into
// PromptPoolNotReadyError chained to them; every other error passes through as it was raised.
Ref read_payload(const Call& c, Obj path) {
    const State& st = c.state<State>();
    try {
        Ref loads = getattr(c.global(st.json), st.loads);
        Ref text = call_method_kw(path, st.read_text, st.encoding_keyword, st.utf_8);
        return call(loads, text);
    } catch (const Error&) {
        Caught caught;
        Handling handling(caught.value());
        if (caught.matches(PyExc_FileNotFoundError)) raise_from(call_method(c.self, st.not_ready), caught.value());
        if (caught.matches(getattr(c.global(st.json), st.JSONDecodeError))) {
            Ref error_class = c.global(st.PromptPoolNotReadyError);
            raise_from(call(error_class, concat(st.json_message_prefix, str(path))), caught.value());
        }
        caught.reraise();
    }
}

// `payload.get("items")`; a payload without `get` (a top-level array, string or number) raises AttributeError.
Ref items_of(const State& st, Obj payload) {
    if (PyDict_CheckExact(static_cast<PyObject*>(payload))) {
        Ref items = dict_lookup(payload, st.items);
        return items ? items : none();
    }
    return call_method(payload, st.get, st.items);
}

}  // namespace

Ref init(const Call& c) {
    const State& st = c.state<State>();
    PyObject* skills_dir = c.arg(0);
    Ref value = none();
    if (truthy(skills_dir)) value = call_method(call(c.global(st.Path), skills_dir), st.expanduser);
    setattr(c.self, st.skills_dir, value);
    return none();
}

Ref resolve_question_templates_path(const Call& c) {
    const State& st = c.state<State>();
    Ref skills_dir = getattr(c.self, st.skills_dir);
    if (truthy(skills_dir))
        return joined(skills_dir, {st.skill_folder.get(), st.data_folder.get(), st.file_name.get()});
    return joined(call_method(c.global(st.Path), st.cwd), {st.agents_folder.get(), st.skills_folder.get(),
                                                           st.skill_folder.get(), st.data_folder.get(),
                                                           st.file_name.get()});
}

Ref not_ready(const Call& c) {
    const State& st = c.state<State>();
    return call(c.global(st.PromptPoolNotReadyError), st.missing_message);
}

Ref load_templates(const Call& c) {
    const State& st = c.state<State>();
    Ref path = call_method(c.self, st.resolve_question_templates_path);
    Ref payload = read_payload(c, path);
    Ref items = items_of(st, payload);
    if (!PyList_Check(items.get())) raise(call(c.global(st.PromptPoolNotReadyError), st.items_message));
    Ref templates = new_list();
    Iter elements(items);
    while (Ref item = elements.next()) append(templates, call_method(c.self, st.parse_template, item));
    // Lengths are never negative, so the total is zero exactly when every length is; all are still taken,
    // so that a template whose questions have no length raises.
    bool any_question = false;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(templates.get()); ++i) {
        Ref current = Ref::borrow(PyList_GET_ITEM(templates.get(), i));
        any_question = length(getattr(current, st.questions)) != 0 || any_question;
    }
    if (!any_question) raise(call(c.global(st.PromptPoolNotReadyError), st.empty_message));
    return templates;
}

}  // namespace prompt_pool
