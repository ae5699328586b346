// Markdown line parsers on Python strings, with `re.match` of the module's `re`: headings, list items,
// delimiter rows and pipe tables (pipe rows need no pattern and are always parsed natively).
#include "rundown/generic/generic.hpp"

namespace rundown::generic {

using namespace pyhost;

namespace {

Ref list_item_block(const State& st, Obj text) { return dict2(st.kind, st.list_item, st.key(f_text), text); }

// `lines[i]` of a list that callbacks may change between reads, with Python's negative indexing.
Ref line_at(PyObject* lines, Py_ssize_t i) {
    const Py_ssize_t n = PyList_GET_SIZE(lines);
    if (i < 0) i += n;
    if (i < 0 || i >= n) {
        PyErr_SetString(PyExc_IndexError, "list index out of range");
        throw Error{};
    }
    return Ref::borrow(PyList_GET_ITEM(lines, i));
}

}  // namespace

Ref parse_markdown_heading(const Call& c) {
    const State& st = c.state<State>();
    Ref trimmed = call_method(c.arg(0), st.strip);
    Ref m = re_match(c, st.heading_pattern, trimmed);
    if (!truthy(m)) return none();
    Ref text = call_method(call_method(m, st.group, st.two), st.strip);
    if (!truthy(text)) return none();
    Ref marks = call_method(m, st.group, st.one);
    Ref block = new_dict();
    set_item(block, st.kind, st.heading);
    set_item(block, st.key(f_level), integer(length(marks)));
    set_item(block, st.key(f_text), text);
    return block;
}

Ref parse_markdown_list_item(const Call& c) {
    const State& st = c.state<State>();
    Ref trimmed = call_method(c.arg(0), st.strip);
    Ref unordered = re_match(c, st.bullet_pattern, trimmed);
    if (truthy(unordered)) {
        Ref text = call_method(call_method(unordered, st.group, st.two), st.strip);
        return truthy(text) ? list_item_block(st, text) : none();
    }
    Ref ordered = re_match(c, st.ordered_pattern, trimmed);
    if (!truthy(ordered)) return none();
    Ref text = call_method(call_method(ordered, st.group, st.one), st.strip);
    return truthy(text) ? list_item_block(st, text) : none();
}

Ref is_markdown_delimiter_row(const Call& c) {
    const State& st = c.state<State>();
    PyObject* cells = c.arg(0);
    if (!truthy(cells)) return boolean(false);
    Iter it(cells);
    while (Ref cell = it.next()) {
        if (!truthy(re_match(c, st.delimiter_pattern, call_method(cell, st.strip)))) return boolean(false);
    }
    return boolean(true);
}

Ref parse_markdown_table(const Call& c) {
    const State& st = c.state<State>();
    PyObject* self = c.self;
    PyObject* lines = c.arg(0);
    PyObject* start_obj = c.arg(1);  // an int, converted on entry
    int overflow = 0;
    const long long start = PyLong_AsLongLongAndOverflow(start_obj, &overflow);
    if (start == -1 && PyErr_Occurred()) throw Error{};
    if (overflow < 0) return subscript(lines, start_obj);  // `lines[start_index]` raises as Python does
    auto line_or_empty = [&](long long i) {
        if (overflow > 0 || i >= static_cast<long long>(length(lines))) return Ref(st.empty);
        return line_at(lines, static_cast<Py_ssize_t>(i));
    };
    Ref header = call_method(self, st.parse_pipe_row, line_or_empty(start));
    if (header.get() == Py_None) return none();
    Ref delimiter = call_method(self, st.parse_pipe_row, line_or_empty(start + 1));
    if (delimiter.get() == Py_None || !truthy(call_method(self, st.is_markdown_delimiter_row, delimiter)))
        return none();
    Ref rows = new_list();
    Ref next;
    if (overflow > 0) {
        next = add(start_obj, st.two);
    } else {
        long long index = start + 2;
        while (index < static_cast<long long>(length(lines))) {
            Ref line = line_at(lines, static_cast<Py_ssize_t>(index));
            if (!truthy(call_method(line, st.strip))) break;
            Ref cells = call_method(self, st.parse_pipe_row, line);
            if (cells.get() == Py_None || truthy(call_method(self, st.is_markdown_delimiter_row, cells))) break;
            append(rows, cells);
            ++index;
        }
        next = integer(index);
    }
    Ref block = new_dict();
    set_item(block, st.kind, st.table);
    set_item(block, st.header, header);
    set_item(block, st.rows, rows);
    return tuple2(block, next);
}

}  // namespace rundown::generic
