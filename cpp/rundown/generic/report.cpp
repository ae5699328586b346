// Report assembly on Python objects: question texts, one section per answer, sections joined and tidied.
#include "rundown/generic/generic.hpp"

namespace rundown::generic {

using namespace pyhost;

Ref format_data(const Call& c) {
    const State& st = c.state<State>();
    PyObject* self = c.self;
    PyObject* data = c.arg(0);
    Ref answers = get(data, st.get, st.key(f_answers), Py_None);
    if (!PyList_Check(answers.get()) || !truthy(answers)) return Ref(st.empty);
    Ref questions = call_method(self, st.extract_questions, data);
    Ref sections = new_list();
    long long index = 0;
    Iter it(answers);
    while (Ref answer = it.next()) {
        Ref number = integer(++index);
        Ref question = call_method(self, st.question_at, questions, number);
        Ref section = call_method(self, st.format_section, number, answer, question);
        if (PyUnicode_Check(section.get()) && pyhost::str_length(section.get()) > 0) append(sections, section);
    }
    return call_method(self, st.collapse_blank_lines, join(st.section_sep, sections));
}

Ref extract_questions(const Call& c) {
    const State& st = c.state<State>();
    PyObject* self = c.self;
    PyObject* data = c.arg(0);
    Ref questions = call_method(self, st.normalize_question_list, get(data, st.get, st.key(f_questions), Py_None));
    if (truthy(questions)) return questions;
    Ref upload_payload = get(data, st.get, st.key(f_upload_payload), Py_None);
    if (!PyDict_Check(upload_payload.get())) return new_list();
    Ref records = get(upload_payload, st.get, st.key(f_records), Py_None);
    if (!PyList_Check(records.get()) || !truthy(records)) return new_list();
    Ref first_record = item_at(records, 0);
    if (!PyDict_Check(first_record.get())) return new_list();
    return call_method(self, st.normalize_question_list, get(first_record, st.get, st.key(f_questions), Py_None));
}

Ref normalize_question_list(const Call& c) {
    const State& st = c.state<State>();
    PyObject* raw_questions = c.arg(0);
    Ref result = new_list();
    if (!PyList_Check(raw_questions)) return result;
    Iter it(raw_questions);
    while (Ref item = it.next()) {
        Ref text;
        if (PyUnicode_Check(item.get())) {
            text = call_method(item, st.strip);
        } else if (PyDict_Check(item.get())) {
            Ref value = get(item, st.get, st.key(f_question), Py_None);
            if (!truthy(value)) value = get(item, st.get, st.key(f_text), Py_None);
            text = text_of(st, value);
        } else {
            continue;
        }
        if (truthy(text)) append(result, text);
    }
    return result;
}

Ref question_at(const Call& c) {
    const State& st = c.state<State>();
    PyObject* questions = c.arg(0);
    PyObject* index = c.arg(1);  // an int, converted on entry
    int overflow = 0;
    const long long number = PyLong_AsLongLongAndOverflow(index, &overflow);
    if (number == -1 && PyErr_Occurred()) throw Error{};
    if (!overflow && number >= 1 && number <= PyList_GET_SIZE(questions))
        return Ref::borrow(PyList_GET_ITEM(questions, static_cast<Py_ssize_t>(number - 1)));
    PyLine title(st);
    fallback_title(title, str(index));
    return title.value();
}

Ref format_section(const Call& c) {
    const State& st = c.state<State>();
    PyObject* self = c.self;
    PyObject* index = c.arg(0);  // an int, converted on entry
    PyObject* answer = c.arg(1);
    PyObject* question = c.arg(2);
    Ref answer_data = PyDict_Check(answer) ? Ref::borrow(answer) : new_dict();
    auto field = [&](Field f) { return get(answer_data, st.get, st.key(f), Py_None); };
    Ref product_links = call_method(self, st.format_product_links, field(f_product_links));
    Ref summary_text = text_of(st, field(f_summary_text));
    Ref body_lines = call_method(self, st.format_answer_body, index, answer_data);
    Ref recommended = call_method(self, st.format_recommended_asins, field(f_recommended_asins));
    Ref number = str(index);

    PyLines lines(st);
    const SectionParts parts{truthy(product_links), [&] { lines.extend(product_links); },
                             truthy(body_lines),    [&] { lines.extend(body_lines); },
                             truthy(recommended),   [&] { lines.extend(recommended); },
                             truthy(summary_text)};
    const Ref question_ref = Ref::borrow(question);
    section_lines(lines, number, &question_ref, parts, summary_text);
    return join(st.newline, lines.finish());
}

}  // namespace rundown::generic
