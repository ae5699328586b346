// Single-line parsers on the native matchers, converting only at the boundary: a str in, a dict, a list of
// str or a bool out.
#include "rundown/text/parsers.hpp"

#include "rundown/text/match.hpp"
#include "rundown/state.hpp"

namespace rundown::text {

using pyhost::Ref;

namespace {

Piece whole_stripped(PyObject* s) { return strip(whole(s)); }

Ref substring(const Piece& p) {
    const char* at = static_cast<const char*>(p.data) + p.b * p.kind;
    return pyhost::check(PyUnicode_FromKindAndData(p.kind, at, p.e - p.b));
}

Ref block(const State& st, PyObject* kind, const Piece& text, int level) {
    Ref d = pyhost::new_dict();
    pyhost::set_item(d, st.kind, kind);
    if (level) pyhost::set_item(d, st.key(f_level), pyhost::integer(level));
    pyhost::set_item(d, st.key(f_text), substring(text));
    return d;
}

}  // namespace

Ref parse_markdown_heading(const pyhost::Call& c) {
    const State& st = c.state<State>();
    Piece text;
    const int level = match_heading(whole_stripped(c.arg(0)), text);
    return level ? block(st, st.heading.get(), text, level) : pyhost::none();
}

Ref parse_markdown_list_item(const pyhost::Call& c) {
    const State& st = c.state<State>();
    Piece text;
    return match_list_item(whole_stripped(c.arg(0)), text) ? block(st, st.list_item.get(), text, 0) : pyhost::none();
}

Ref parse_pipe_row(const pyhost::Call& c) {
    const Piece line = whole(c.arg(0));
    const std::size_t n = match_pipe_row(line);
    if (!n) return pyhost::none();
    Ref out = pyhost::new_list(static_cast<Py_ssize_t>(n));
    Py_ssize_t i = 0;
    with_chars(line, [&](const auto* p) {
        pipe_cells(line, p, [&](const Piece& cell) { PyList_SET_ITEM(out.get(), i++, substring(cell).release()); });
    });
    return out;
}

Ref is_markdown_delimiter_row(const pyhost::Call& c) {
    PyObject* cells = c.arg(0);
    const Py_ssize_t n = PyList_GET_SIZE(cells);
    for (Py_ssize_t i = 0; i < n; ++i)
        if (!PyUnicode_CheckExact(PyList_GET_ITEM(cells, i))) return {};
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (!match_delimiter_cell(whole_stripped(PyList_GET_ITEM(cells, i)))) return pyhost::boolean(false);
    }
    return pyhost::boolean(n > 0);
}

}  // namespace rundown::text
