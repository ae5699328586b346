// Structured block assembly on Python objects: the answer's blocks (or its parsed text) to display blocks,
// list items gathered into lists and table rows into squared tables.
#include "rundown/generic/generic.hpp"

#include <algorithm>

namespace rundown::generic {

using namespace pyhost;

namespace {

// A heading level: an int (bools included) kept within 1 to 6; anything else is 2.
Ref display_level(const State& st, Obj value) {
    if (!PyLong_Check(static_cast<PyObject*>(value))) return st.two;
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (v == -1 && PyErr_Occurred()) throw Error{};
    if (overflow) v = overflow > 0 ? 6 : 1;
    return integer(std::clamp(v, 1LL, 6LL));
}

}  // namespace

Ref build_answer_blocks(const Call& c) {
    const State& st = c.state<State>();
    PyObject* self = c.self;
    PyObject* text = c.arg(0);
    PyObject* structured_blocks = c.arg(1);
    if (PyList_Check(structured_blocks) && truthy(structured_blocks)) {
        Ref blocks = call_method(self, st.build_structured_answer_blocks, structured_blocks);
        if (truthy(blocks)) return blocks;
    }
    if (PyUnicode_GET_LENGTH(text) == 0) return new_list();
    Ref fallback_blocks = call_method(self, st.build_text_fallback_blocks, text);
    Ref structured_fallback = call_method(self, st.to_structured_blocks, fallback_blocks);
    Ref blocks = call_method(self, st.build_structured_answer_blocks, structured_fallback);
    if (truthy(blocks)) return blocks;
    Ref last_resort = new_list();
    append(last_resort, dict2(st.type, st.text, st.text, call_method(text, st.strip)));
    return last_resort;
}

Ref build_structured_answer_blocks(const Call& c) {
    const State& st = c.state<State>();
    PyObject* self = c.self;
    Ref blocks = new_list();
    Ref list_buffer = new_list();
    Ref table_rows = new_list();

    auto flush_list = [&] {
        if (PyList_GET_SIZE(list_buffer.get()) == 0) return;
        append(blocks, dict2(st.type, st.list, st.items, list_buffer));
        list_buffer = new_list();
    };
    auto flush_table = [&] {
        const Py_ssize_t n = PyList_GET_SIZE(table_rows.get());
        if (n == 0) return;
        if (n < 2) {
            Ref texts = new_list();
            for (Py_ssize_t i = 0; i < n; ++i) append(texts, join(st.cell_sep, PyList_GET_ITEM(table_rows.get(), i)));
            append(blocks, dict2(st.type, st.text, st.text, join(st.newline, texts)));
            table_rows = new_list();
            return;
        }
        Ref pending = table_rows;  // the rows stay alive while overrides of the row squaring run
        table_rows = new_list();
        Ref header = Ref::borrow(PyList_GET_ITEM(pending.get(), 0));
        Ref width = integer(length(header));
        Ref rows = new_list();
        for (Py_ssize_t i = 1; i < n; ++i)
            append(rows, call_method(self, st.normalize_row_cells, PyList_GET_ITEM(pending.get(), i), width));
        Ref table = new_dict();
        set_item(table, st.type, st.table);
        set_item(table, st.header, header);
        set_item(table, st.rows, rows);
        append(blocks, table);
    };

    Iter it(c.arg(0));
    while (Ref raw_block = it.next()) {
        if (!PyDict_Check(raw_block.get())) continue;
        Ref block_type = get(raw_block, st.get, st.type, Py_None);
        Ref text = text_of(st, get(raw_block, st.get, st.text, Py_None));
        const bool has_text = truthy(text);
        if (!has_text && !equals(block_type, st.table_row)) continue;
        if (equals(block_type, st.heading)) {
            flush_list();
            flush_table();
            Ref level = display_level(st, get(raw_block, st.get, st.level, Py_None));
            Ref heading = dict2(st.type, st.heading, st.text, text);
            set_item(heading, st.level, level);
            append(blocks, heading);
        } else if (equals(block_type, st.paragraph)) {
            flush_list();
            flush_table();
            append(blocks, dict2(st.type, st.text, st.text, text));
        } else if (equals(block_type, st.list_item)) {
            flush_table();
            append(list_buffer, text);
        } else if (equals(block_type, st.table_row)) {
            flush_list();
            Ref row = call_method(self, st.normalize_structured_row, raw_block);
            if (truthy(row)) {
                append(table_rows, row);
            } else if (has_text) {
                flush_table();
                append(blocks, dict2(st.type, st.text, st.text, text));
            }
        }
    }
    flush_list();
    flush_table();
    return blocks;
}

Ref normalize_structured_row(const Call& c) {
    const State& st = c.state<State>();
    PyObject* block = c.arg(0);
    Ref cells = get(block, st.get, st.cells, Py_None);
    if (PyList_Check(cells.get()) && truthy(cells)) {
        Ref out = new_list();
        Iter it(cells);
        while (Ref cell = it.next()) append(out, text_of(st, cell));
        return out;
    }
    Ref value = get(block, st.get, st.text, Py_None);
    return call_method(c.self, st.parse_pipe_row, truthy(value) ? str(value) : st.empty);
}

Ref normalize_row_cells(const Call& c) {
    const State& st = c.state<State>();
    PyObject* row = c.arg(0);
    PyObject* width = c.arg(1);  // an int, converted on entry
    Ref n = integer(PyList_GET_SIZE(row));
    if (equals(n, width)) return Ref::borrow(row);
    if (less(n, width)) {
        Ref padding = new_list();
        append(padding, st.empty);
        padding = check(PyNumber_Multiply(padding.get(), check(PyNumber_Subtract(width, n.get())).get()));
        return check(PyNumber_Add(row, padding.get()));
    }
    // Surplus cells merge into the last column; slices keep Python's meaning for widths below 1.
    Ref last = check(PyNumber_Subtract(width, st.one.get()));
    Ref head = subscript(row, check(PySlice_New(nullptr, last.get(), nullptr)));
    Ref tail = subscript(row, check(PySlice_New(last.get(), nullptr, nullptr)));
    append(head, join(st.cell_sep, tail));
    return head;
}

}  // namespace rundown::generic
