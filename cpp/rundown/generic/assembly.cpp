// Structured block assembly on Python objects: the answer's blocks (or its parsed text) to display blocks,
// list items gathered into lists and table rows into squared tables.
#include "rundown/generic/generic.hpp"

#include <optional>

namespace rundown::generic {

using namespace pyhost;

namespace {

// The display blocks made by the grouping rules, with the pending list items and table rows.
//
// The pending rows are reachable from Python code (gc.get_referrers of a row finds them): an override of a
// step, a finalizer or a gc.callbacks entry run by an allocation may empty, extend or replace them between
// two reads. So they are walked by iterators, which read the size again at each step, and every row is held
// while it is used.
class Blocks {
public:
    Blocks(const Call& c, const State& st) : c_(c), st_(st), blocks_(new_list()), list_(new_list()), rows_(new_list()) {}

    void flush_list() {
        if (PyList_GET_SIZE(list_.get()) == 0) return;
        append(blocks_, dict2(st_.key(f_type), st_.list, st_.items, list_));
        list_ = new_list();
    }
    void flush_table() {
        if (PyList_GET_SIZE(rows_.get()) == 0) return;
        Ref pending = rows_;
        if (!makes_table(static_cast<std::size_t>(PyList_GET_SIZE(pending.get())))) {
            Ref texts = new_list();
            Iter rows(pending);
            while (Ref row = rows.next()) append(texts, join(st_.lit(Lit::cell_sep), row));
            text(join(st_.newline, texts));
        } else {
            Ref header = item_at(pending, 0);
            Ref rows = new_list();
            // The body rows are those pending when the squaring begins, as a slice of them would be.
            Iter body(slice(pending, 1, PyList_GET_SIZE(pending.get())));
            while (Ref row = body.next())
                append(rows, call_method(c_.self, st_.normalize_row_cells, row, integer(length(header))));
            Ref table = new_dict();
            set_item(table, st_.key(f_type), st_.table);
            set_item(table, st_.header, header);
            set_item(table, st_.rows, rows);
            append(blocks_, table);
        }
        rows_ = new_list();
    }
    void heading(Obj text, long long level) {
        Ref heading = dict2(st_.key(f_type), st_.heading, st_.key(f_text), text);
        set_item(heading, st_.key(f_level), integer(level));
        append(blocks_, heading);
    }
    void text(Obj text) { append(blocks_, dict2(st_.key(f_type), st_.key(f_text), st_.key(f_text), text)); }
    void list_item(Obj text) { append(list_, text); }
    void table_row(Obj row) { append(rows_, row); }
    Ref result() { return blocks_; }

private:
    const Call& c_;
    const State& st_;
    Ref blocks_, list_, rows_;
};

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
    append(last_resort, dict2(st.key(f_type), st.key(f_text), st.key(f_text), call_method(text, st.strip)));
    return last_resort;
}

Ref build_structured_answer_blocks(const Call& c) {
    const State& st = c.state<State>();
    Blocks g(c, st);
    Iter it(c.arg(0));
    while (Ref raw_block = it.next()) {
        if (!PyDict_Check(raw_block.get())) continue;
        Ref block_type = get(raw_block, st.get, st.key(f_type), Py_None);
        Ref text = text_of(st, get(raw_block, st.get, st.key(f_text), Py_None));
        const bool has_text = truthy(text);
        if (!has_text && !equals(block_type, st.table_row)) continue;
        if (equals(block_type, st.heading)) {
            Ref level = get(raw_block, st.get, st.key(f_level), Py_None);  // an int (bools too), else 2
            group_heading(g, text, PyLong_Check(level.get()) ? saturated(level.get()) : 2);
        } else if (equals(block_type, st.paragraph)) {
            group_text(g, text);
        } else if (equals(block_type, st.list_item)) {
            group_list_item(g, text);
        } else if (equals(block_type, st.table_row)) {
            auto read = [&]() -> std::optional<Ref> {
                Ref row = call_method(c.self, st.normalize_structured_row, raw_block);
                return truthy(row) ? std::optional<Ref>(row) : std::nullopt;
            };
            group_table_row(g, read, has_text, text);
        }
    }
    group_end(g);
    return g.result();
}

Ref normalize_structured_row(const Call& c) {
    const State& st = c.state<State>();
    PyObject* block = c.arg(0);
    Ref cells = get(block, st.get, st.key(f_cells), Py_None);
    if (PyList_Check(cells.get()) && truthy(cells)) {
        Ref out = new_list();
        Iter it(cells);
        while (Ref cell = it.next()) append(out, text_of(st, cell));
        return out;
    }
    Ref value = get(block, st.get, st.key(f_text), Py_None);
    return call_method(c.self, st.parse_pipe_row, truthy(value) ? str(value) : st.empty);
}

Ref normalize_row_cells(const Call& c) {
    const State& st = c.state<State>();
    PyObject* row = c.arg(0);
    int overflow = 0;
    long long width = PyLong_AsLongLongAndOverflow(c.arg(1), &overflow);  // an int, converted on entry
    if (width == -1 && PyErr_Occurred()) throw Error{};
    if (overflow > 0) {  // as `[""] * (width - len(row))` fails
        PyErr_SetString(PyExc_OverflowError, "cannot fit 'int' into an index-sized integer");
        throw Error{};
    }
    if (overflow < 0) width = LLONG_MIN / 2;  // below any row: every cell merges into one
    const Squared sq = square_row(PyList_GET_SIZE(row), width);
    if (sq.same) return Ref::borrow(row);
    if (!sq.merge) {
        // Made before the row is read again: making it can run Python code that changes the row.
        Ref padding = new_list(static_cast<Py_ssize_t>(sq.pad));
        for (Py_ssize_t i = 0; i < sq.pad; ++i) PyList_SET_ITEM(padding.get(), i, Py_NewRef(st.empty.get()));
        return add(row, padding);
    }
    Ref head = slice(row, 0, static_cast<Py_ssize_t>(sq.keep));
    Ref tail = slice(row, static_cast<Py_ssize_t>(sq.keep), PY_SSIZE_T_MAX);
    append(head, join(st.lit(Lit::cell_sep), tail));
    return head;
}

}  // namespace rundown::generic
