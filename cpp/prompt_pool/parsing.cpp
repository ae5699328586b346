// Template items and question entries into QuestionTemplate and Question: key defaults, int() and str()
// conversions, the skipping of non-object entries and the stable sort by position.
#include "prompt_pool/service.hpp"

namespace prompt_pool {

using namespace pyhost;

Ref parse_question(const Call& c) {
    const State& st = c.state<State>();
    PyObject* item = c.arg(0);
    Ref question = c.global(st.Question);
    Ref id = as_int(get(item, st.get, st.id, st.zero));
    Ref text = str(get(item, st.get, st.text, st.empty));
    Ref position = as_int(get(item, st.get, st.position, st.zero));
    return call_kw(question, st.question_keywords, id, text, position);
}

Ref parse_template(const Call& c) {
    const State& st = c.state<State>();
    PyObject* item = c.arg(0);
    // Every entry is examined and the list sorted before any field of the template is read, so that the
    // first error seen is the same as in a step-by-step reading of the item.
    Ref entries = get(item, st.get, st.questions, new_list());
    Ref questions = new_list();
    Iter walk(entries);
    while (Ref entry = walk.next())
        if (PyDict_Check(entry.get())) append(questions, call_method(c.self, st.parse_question, entry));
    call_method_kw(questions, st.sort, st.key_keyword, st.position_key);

    Ref question_template = c.global(st.QuestionTemplate);
    Ref id = as_int(get(item, st.get, st.id, st.zero));
    Ref description = str(get(item, st.get, st.description, st.empty));
    Ref preferred_version_index = as_int(get(item, st.get, st.preferred_version_index, st.zero));
    Ref created_at = get(item, st.get, st.created_at, Py_None);
    Ref updated_at = get(item, st.get, st.updated_at, Py_None);
    return call_kw(question_template, st.template_keywords, id, description, preferred_version_index, questions,
                         created_at, updated_at);
}

}  // namespace prompt_pool
