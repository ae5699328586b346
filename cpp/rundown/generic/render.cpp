// Block conversion and rendering on Python objects: intermediate blocks to structured blocks, display
// blocks to report lines, and the blank-line tidy-up of a whole report.
#include "rundown/generic/generic.hpp"
#include "rundown/rules.hpp"


namespace rundown::generic {

using namespace pyhost;

namespace {

Ref table_row_block(const State& st, Obj cells) {
    Ref block = new_dict();
    set_item(block, st.type, st.table_row);
    set_item(block, st.text, join(st.cell_sep, cells));
    set_item(block, st.cells, cells);
    return block;
}

Ref typed_text_block(const State& st, Obj type, Obj text) { return dict2(st.type, type, st.text, text); }

Ref list_or_empty(Obj v) { return PyList_Check(static_cast<PyObject*>(v)) ? Ref::borrow(v) : new_list(); }

// "| a | b |" from the given cell texts.
Ref pipe_line(const State& st, Obj cells) { return concat(concat(st.row_open, join(st.cell_sep, cells)), st.row_close); }

// The number of heading marks for a display level: level + 2, kept within 1 to 6.
long marks_for(PyObject* level) {
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(level, &overflow);
    if (v == -1 && PyErr_Occurred()) throw Error{};
    if (overflow) return overflow > 0 ? 6 : 1;
    return heading_marks(v);
}

}  // namespace

Ref to_structured_blocks(const Call& c) {
    const State& st = c.state<State>();
    Ref structured = new_list();
    Iter it(c.arg(0));
    while (Ref block = it.next()) {
        Ref kind = get(block, st.get, st.kind, Py_None);
        if (equals(kind, st.heading)) {
            Ref out = typed_text_block(st, st.heading, get(block, st.get, st.text, st.empty));
            set_item(out, st.level, get(block, st.get, st.level, st.two));
            append(structured, out);
        } else if (equals(kind, st.list_item)) {
            append(structured, typed_text_block(st, st.list_item, get(block, st.get, st.text, st.empty)));
        } else if (equals(kind, st.table)) {
            Ref header = list_or_empty(get(block, st.get, st.header, Py_None));
            Ref rows = list_or_empty(get(block, st.get, st.rows, Py_None));
            append(structured, table_row_block(st, header));
            Iter row_it(rows);
            while (Ref row = row_it.next()) {
                if (PyList_Check(row.get())) append(structured, table_row_block(st, row));
            }
        } else {
            append(structured, typed_text_block(st, st.paragraph, get(block, st.get, st.text, st.empty)));
        }
    }
    return structured;
}

Ref render_blocks(const Call& c) {
    const State& st = c.state<State>();
    Ref lines = new_list();
    Iter it(c.arg(0));
    while (Ref block = it.next()) {
        if (PyList_GET_SIZE(lines.get()) > 0) append(lines, st.empty);
        Ref block_type = get(block, st.get, st.type, Py_None);
        if (equals(block_type, st.heading)) {
            Ref level = get(block, st.get, st.level, Py_None);
            if (!PyLong_Check(level.get())) level = st.two;
            Ref marks = check(PySequence_Repeat(st.hash.get(), marks_for(level.get())));
            Ref line = concat(concat(marks, st.space), format(get(block, st.get, st.text, st.empty)));
            append(lines, call_method(line, st.strip));
        } else if (equals(block_type, st.list)) {
            Ref items = get(block, st.get, st.items, new_list());
            Iter item_it(items);
            while (Ref item = item_it.next()) append(lines, concat(st.list_marker, format(item)));
        } else if (equals(block_type, st.table)) {
            Ref header = new_list();
            {
                Iter cell_it(get(block, st.get, st.header, new_list()));
                while (Ref cell = cell_it.next()) append(header, str(cell));
            }
            Ref rows = get(block, st.get, st.rows, new_list());
            if (PyList_GET_SIZE(header.get()) == 0) continue;
            append(lines, pipe_line(st, header));
            Ref delimiters = new_list();
            {
                Iter cell_it(header);  // as many as the header holds now: the lists above may have run Python code
                while (cell_it.next()) append(delimiters, st.delimiter_cell);
            }
            append(lines, pipe_line(st, delimiters));
            Iter row_it(rows);
            while (Ref row = row_it.next()) {
                if (!PyList_Check(row.get())) continue;
                Ref cells = new_list();
                Iter cell_it(row);
                while (Ref cell = cell_it.next()) append(cells, str(cell));
                append(lines, pipe_line(st, cells));
            }
        } else {
            Ref text = text_of(st, get(block, st.get, st.text, Py_None));
            if (truthy(text)) append(lines, text);
        }
    }
    return lines;
}

Ref collapse_blank_lines(const Call& c) {
    const State& st = c.state<State>();
    Ref raw = check(api(PyUnicode_Splitlines, c.arg(0), 0));
    Ref collapsed = new_list();  // can run Python code, which may reach `raw`: it is walked by an iterator
    bool blank = false;
    Iter lines(raw);
    while (Ref raw_line = lines.next()) {
        Ref line = call_method(raw_line, st.rstrip);
        if (!truthy(call_method(line, st.strip))) {
            if (!blank) append(collapsed, st.empty);
            blank = true;
            continue;
        }
        append(collapsed, line);
        blank = false;
    }
    Py_ssize_t keep = PyList_GET_SIZE(collapsed.get());
    while (keep > 0 && pyhost::str_length(PyList_GET_ITEM(collapsed.get(), keep - 1)) == 0) --keep;
    check(PyList_SetSlice(collapsed.get(), keep, PyList_GET_SIZE(collapsed.get()), nullptr));
    return join(st.newline, collapsed);
}

}  // namespace rundown::generic
