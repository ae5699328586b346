// Answer body and link lists on Python objects: the lines under "### 答案", "### 相关产品" and "### 推荐 ASIN".
#include "rundown/generic/generic.hpp"

namespace rundown::generic {

using namespace pyhost;

Ref format_answer_body(const Call& c) {
    const State& st = c.state<State>();
    PyObject* answer = c.arg(1);
    Ref text = text_of(st, get(answer, st.get, st.text, Py_None));
    Ref is_success = get(answer, st.get, st.is_success_key, Py_None);
    // The stripped text need not be a str (a str subclass may strip to anything), so it is tested by its truth.
    if (is_success.get() == Py_False && !truthy(text)) return new_list();
    Ref blocks = call_method(c.self, st.build_answer_blocks, text, get(answer, st.get, st.blocks_key, Py_None));
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
    PyObject* include_source = c.arg(1);
    Ref lines = new_list();
    if (!PyList_Check(raw_items)) return lines;
    Iter it(raw_items);
    while (Ref item = it.next()) {
        if (PyUnicode_Check(item.get())) {
            Ref text = call_method(item, st.strip);
            if (truthy(text)) append(lines, concat(st.list_marker, format(text)));
            continue;
        }
        if (!PyDict_Check(item.get())) continue;
        Ref asin = text_of(st, get(item, st.get, st.asin, Py_None));
        Ref title_value = get(item, st.get, st.title, Py_None);
        if (!truthy(title_value)) title_value = get(item, st.get, st.href, Py_None);
        Ref title = text_of(st, title_value);
        Ref href = text_of(st, get(item, st.get, st.href, Py_None));
        Ref source = text_of(st, get(item, st.get, st.source, Py_None));
        Ref description = text_of(st, get(item, st.get, st.description, Py_None));

        Ref label = st.empty;
        if (truthy(asin) && truthy(title)) label = concat(concat(asin, st.label_sep), title);
        else if (truthy(asin)) label = asin;
        else if (truthy(title)) label = title;
        if (truthy(include_source) && truthy(source)) {
            label = truthy(label) ? concat(concat(concat(label, st.paren_open), source), st.paren_close)
                                  : concat(concat(st.open_paren, source), st.paren_close);
        }
        if (truthy(label)) append(lines, concat(st.list_marker, label));
        if (truthy(href)) append(lines, concat(st.indent, href));
        if (truthy(description)) append(lines, concat(st.indent, description));
    }
    return lines;
}

}  // namespace rundown::generic
