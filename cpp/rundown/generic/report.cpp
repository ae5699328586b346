// Report assembly on Python objects: question texts, one section per answer, sections joined and tidied.
#include "rundown/generic/generic.hpp"

namespace rundown::generic {

using namespace pyhost;

namespace {

void extend(Obj lines, Obj items) {
    Iter it(items);
    while (Ref item = it.next()) append(lines, item);
}

void append_all(Obj lines, std::initializer_list<Obj> items) {
    for (Obj item : items) append(lines, item);
}

}  // namespace

Ref format_data(const Call& c) {
    const State& st = c.state<State>();
    PyObject* self = c.self;
    PyObject* data = c.arg(0);
    Ref answers = get(data, st.get, st.answers, Py_None);
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
    Ref questions = call_method(self, st.normalize_question_list, get(data, st.get, st.questions, Py_None));
    if (truthy(questions)) return questions;
    Ref upload_payload = get(data, st.get, st.upload_payload, Py_None);
    if (!PyDict_Check(upload_payload.get())) return new_list();
    Ref records = get(upload_payload, st.get, st.records, Py_None);
    if (!PyList_Check(records.get()) || !truthy(records)) return new_list();
    Ref first_record = item_at(records, 0);
    if (!PyDict_Check(first_record.get())) return new_list();
    return call_method(self, st.normalize_question_list, get(first_record, st.get, st.questions, Py_None));
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
            Ref value = get(item, st.get, st.question, Py_None);
            if (!truthy(value)) value = get(item, st.get, st.text, Py_None);
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
    return concat(concat(st.fallback_open, str(index)), st.fallback_close);
}

Ref format_section(const Call& c) {
    const State& st = c.state<State>();
    PyObject* self = c.self;
    PyObject* index = c.arg(0);  // an int, converted on entry
    PyObject* answer = c.arg(1);
    PyObject* question = c.arg(2);
    Ref answer_data = PyDict_Check(answer) ? Ref::borrow(answer) : new_dict();
    Ref product_links = call_method(self, st.format_product_links, get(answer_data, st.get, st.product_links_key, Py_None));
    Ref summary_text = text_of(st, get(answer_data, st.get, st.summary_text_key, Py_None));
    Ref body_lines = call_method(self, st.format_answer_body, index, answer_data);
    Ref recommended =
        call_method(self, st.format_recommended_asins, get(answer_data, st.get, st.recommended_asins_key, Py_None));
    Ref number = str(index);

    Ref lines = new_list();
    append(lines, concat(concat(concat(st.heading_open, number), st.heading_colon), question));
    if (truthy(product_links)) {
        append_all(lines, {st.empty, st.products_heading, st.empty});
        extend(lines, product_links);
    }
    const bool has_body = truthy(body_lines);
    const bool has_summary = truthy(summary_text);
    if (has_body || !has_summary) {
        append_all(lines, {st.empty, st.answer_heading, st.empty});
        if (has_body) extend(lines, body_lines);
        else append(lines, concat(concat(st.fallback_open, number), st.missing_answer_close));
    }
    if (truthy(recommended)) {
        append_all(lines, {st.empty, st.asins_heading, st.empty});
        extend(lines, recommended);
    }
    if (has_summary) append_all(lines, {st.empty, st.summary_heading, st.empty, summary_text});
    return join(st.newline, lines);
}

}  // namespace rundown::generic
