// Structured block assembly on Python objects: the answer's blocks (or its parsed text) to display blocks,
// list items gathered into lists and table rows into squared tables.
#include "rundown/generic/generic.hpp"
#include "rundown/rules.hpp"


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
    return integer(heading_level(v));
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
    if (pyhost::str_length(text) == 0) return new_list();
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
    // The pending rows are reachable from Python code (gc.get_referrers of a row finds them): an override of
    // a step, a finalizer or a gc.callbacks entry run by an allocation may empty, extend or replace them
    // between two reads. So they are walked by iterators, which read the size again at each step, and every
    // row is held while it is used.
    auto flush_table = [&] {
        if (PyList_GET_SIZE(table_rows.get()) == 0) return;
        Ref pending = table_rows;
        if (PyList_GET_SIZE(pending.get()) < 2) {
            Ref texts = new_list();
            Iter rows(pending);
            while (Ref row = rows.next()) append(texts, join(st.cell_sep, row));
            append(blocks, dict2(st.type, st.text, st.text, join(st.newline, texts)));
        } else {
            Ref header = item_at(pending, 0);
            Ref rows = new_list();
            // The body rows are those pending when the squaring begins, as a slice of them would be.
            Iter body(slice(pending, 1, PyList_GET_SIZE(pending.get())));
            while (Ref row = body.next())
                append(rows, call_method(self, st.normalize_row_cells, row, integer(length(header))));
            Ref table = new_dict();
            set_item(table, st.type, st.table);
            set_item(table, st.header, header);
            set_item(table, st.rows, rows);
            append(blocks, table);
        }
        table_rows = new_list();
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
    // The length is read again at each use: making the padding list can run Python code that changes the row.
    if (equals(integer(PyList_GET_SIZE(row)), width)) return Ref::borrow(row);
    if (less(integer(PyList_GET_SIZE(row)), width)) {
        Ref padding = new_list();
        append(padding, st.empty);
        padding = multiply(padding, subtract(width, integer(PyList_GET_SIZE(row))));
        return add(row, padding);
    }
    // Surplus cells merge into the last column; slices keep Python's meaning for widths below 1.
    Ref last = subtract(width, st.one);
    Ref head = subscript(row, check(api(PySlice_New, Py_None, last, Py_None)));
    Ref tail = subscript(row, check(api(PySlice_New, last, Py_None, Py_None)));
    append(head, join(st.cell_sep, tail));
    return head;
}

}  // namespace rundown::generic
