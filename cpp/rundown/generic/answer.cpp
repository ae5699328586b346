// Answer body and link lists on Python objects: the lines under "### 答案", "### 相关产品" and "### 推荐 ASIN".
#include "rundown/generic/generic.hpp"

namespace rundown::generic {

using namespace pyhost;

Ref format_answer_body(const Call& c) {
    const State& st = c.state<State>();
    PyObject* answer = c.arg(1);
    Ref text = text_of(st, get(answer, st.get, st.key(f_text), Py_None));
    Ref is_success = get(answer, st.get, st.key(f_is_success), Py_None);
    // The stripped text need not be a str (a str subclass may strip to anything), so it is tested by its truth.
    if (is_success.get() == Py_False && !truthy(text)) return new_list();
    Ref blocks = call_method(c.self, st.build_answer_blocks, text, get(answer, st.get, st.key(f_blocks), Py_None));
    return call_method(c.self, st.render_blocks, blocks);
}

Ref format_product_links(const Call& c) {
    const State& st = c.state<State>();
    return call_method_kw(c.self, st.format_link_items, st.include_source_kwnames, c.arg(0), Py_False);
}

Ref format_recommended_asins(const Call& c) {
    const State& st = c.state<State>();
    return call_method_kw(c.self, st.format_link_items, st.include_source_kwnames, c.arg(0), Py_True);
}

Ref format_link_items(const Call& c) {
    const State& st = c.state<State>();
    PyObject* raw_items = c.arg(0);
    PyLines lines(st);
    if (!PyList_Check(raw_items)) return lines.finish();
    const bool include_source = truthy(c.arg(1));
    auto field = [&](Obj item, Field f) { return get(item, st.get, st.key(f), Py_None); };
    Iter it(raw_items);
    while (Ref item = it.next()) {
        if (PyUnicode_Check(item.get())) {
            Ref text = call_method(item, st.strip);
            if (truthy(text)) list_line(lines, format(text));
            continue;
        }
        if (!PyDict_Check(item.get())) continue;
        Ref asin = text_of(st, field(item, f_asin));
        Ref title_value = field(item, f_title);
        if (!truthy(title_value)) title_value = field(item, f_href);
        Ref title = text_of(st, title_value);
        Ref href = text_of(st, field(item, f_href));
        Ref source = text_of(st, field(item, f_source));
        Ref description = text_of(st, field(item, f_description));
        link_lines(lines, asin, title, href, source, description, include_source);
    }
    return lines.finish();
}

}  // namespace rundown::generic
