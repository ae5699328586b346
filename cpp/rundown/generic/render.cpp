// Block conversion and rendering on Python objects: intermediate blocks to structured blocks, display
// blocks to report lines, and the blank-line tidy-up of a whole report.
#include "rundown/generic/generic.hpp"

namespace rundown::generic {

using namespace pyhost;

namespace {

Ref table_row_block(const State& st, Obj cells) {
    Ref block = new_dict();
    set_item(block, st.key(f_type), st.table_row);
    set_item(block, st.key(f_text), join(st.lit(Lit::cell_sep), cells));
    set_item(block, st.key(f_cells), cells);
    return block;
}

Ref typed_text_block(const State& st, Obj type, Obj text) { return dict2(st.key(f_type), type, st.key(f_text), text); }

Ref list_or_empty(Obj v) { return PyList_Check(static_cast<PyObject*>(v)) ? Ref::borrow(v) : new_list(); }

// Calls `put(str(cell))` for each cell of `cells`.
auto str_cells(Obj cells) {
    return [cells](auto&& put) {
        Iter it(cells);
        while (Ref cell = it.next()) put(str(cell));
    };
}

}  // namespace

Ref to_structured_blocks(const Call& c) {
    const State& st = c.state<State>();
    Ref structured = new_list();
    Iter it(c.arg(0));
    while (Ref block = it.next()) {
        Ref kind = get(block, st.get, st.kind, Py_None);
        if (equals(kind, st.heading)) {
            Ref out = typed_text_block(st, st.heading, get(block, st.get, st.key(f_text), st.empty));
            set_item(out, st.key(f_level), get(block, st.get, st.key(f_level), st.two));
            append(structured, out);
        } else if (equals(kind, st.list_item)) {
            append(structured, typed_text_block(st, st.list_item, get(block, st.get, st.key(f_text), st.empty)));
        } else if (equals(kind, st.table)) {
            Ref header = list_or_empty(get(block, st.get, st.header, Py_None));
            Ref rows = list_or_empty(get(block, st.get, st.rows, Py_None));
            append(structured, table_row_block(st, header));
            Iter row_it(rows);
            while (Ref row = row_it.next()) {
                if (PyList_Check(row.get())) append(structured, table_row_block(st, row));
            }
        } else {
            append(structured, typed_text_block(st, st.paragraph, get(block, st.get, st.key(f_text), st.empty)));
        }
    }
    return structured;
}

Ref render_blocks(const Call& c) {
    const State& st = c.state<State>();
    PyLines lines(st);
    Iter it(c.arg(0));
    while (Ref block = it.next()) {
        if (lines.any()) lines.next();
        Ref block_type = get(block, st.get, st.key(f_type), Py_None);
        if (equals(block_type, st.heading)) {
            Ref level = get(block, st.get, st.key(f_level), Py_None);
            PyLine line(st);
            heading_line(line, PyLong_Check(level.get()) ? saturated(level.get()) : 2,
                         format(get(block, st.get, st.key(f_text), st.empty)));
            lines.next().put(call_method(line.value(), st.strip));
        } else if (equals(block_type, st.list)) {
            Iter item_it(get(block, st.get, st.items, new_list()));
            while (Ref item = item_it.next()) list_line(lines, format(item));
        } else if (equals(block_type, st.table)) {
            Ref header = new_list();
            str_cells(get(block, st.get, st.header, new_list()))([&](Ref cell) { append(header, cell); });
            Ref rows = get(block, st.get, st.rows, new_list());
            if (PyList_GET_SIZE(header.get()) == 0) continue;
            pipe_line(lines.next(), [&](auto&& put) {
                Iter cell_it(header);
                while (Ref cell = cell_it.next()) put(cell);
            });
            // As many as the header holds now: the lists above may have run Python code.
            delimiter_line(lines.next(), static_cast<std::size_t>(PyList_GET_SIZE(header.get())));
            Iter row_it(rows);
            while (Ref row = row_it.next()) {
                if (!PyList_Check(row.get())) continue;
                Ref cells = new_list();  // every cell's str() made before the line is written
                str_cells(row)([&](Ref cell) { append(cells, cell); });
                pipe_line(lines.next(), [&](auto&& put) {
                    Iter cell_it(cells);
                    while (Ref cell = cell_it.next()) put(cell);
                });
            }
        } else {
            Ref text = text_of(st, get(block, st.get, st.key(f_text), Py_None));
            if (truthy(text)) lines.next().put(text);
        }
    }
    return lines.finish();
}

Ref collapse_blank_lines(const Call& c) {
    const State& st = c.state<State>();
    PyObject* text = c.arg(0);
    Ref collapsed = new_list();
    BlankRun run;
    unsigned count = 0;
    // The lines of str.splitlines(), cut one by one so that a long text checks for signals as it goes.
    text::for_each_line(text::whole(text), false, [](Py_UCS4) { return true; }, [&](Py_ssize_t b, Py_ssize_t e) {
        if (++count % signal_interval == 0) check_signals();
        Ref line = call_method(check(PyUnicode_Substring(text, b, e)), st.rstrip);
        const bool blank = !truthy(call_method(line, st.strip));
        if (run.keep(blank)) append(collapsed, blank ? st.empty : line);
    });
    Py_ssize_t keep = PyList_GET_SIZE(collapsed.get());
    while (keep > 0 && pyhost::str_length(PyList_GET_ITEM(collapsed.get(), keep - 1)) == 0) --keep;
    check(PyList_SetSlice(collapsed.get(), keep, PyList_GET_SIZE(collapsed.get()), nullptr));
    return join(st.newline, collapsed);
}

}  // namespace rundown::generic
