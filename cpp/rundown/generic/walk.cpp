// The text fallback walk on Python strings: an answer's Markdown-like text to intermediate blocks.
#include "rundown/generic/generic.hpp"

namespace rundown::generic {

using namespace pyhost;

namespace {

// Where the walk goes on after a table: any int, held to the index range. One past the last line ends the
// walk as any larger one does; one below the first raises as `lines[index]` would.
Py_ssize_t next_index(Obj next) {
    const Py_ssize_t index = PyNumber_AsSsize_t(next, nullptr);
    if (index == -1 && PyErr_Occurred()) throw Error{};
    if (index == PY_SSIZE_T_MIN) {
        PyErr_SetString(PyExc_IndexError, "cannot fit 'int' into an index-sized integer");
        throw Error{};
    }
    return index;
}

}  // namespace

// Lines are cut one by one rather than by one call over the whole text, so that a long text checks for
// signals as it goes. The text is a str, which no Python code can change.
Ref normalize_text_lines(const Call& c) {
    PyObject* text = c.arg(0);
    Ref lines = new_list();
    unsigned count = 0;
    text::for_each_line(text::whole(text), true, [](Py_UCS4 ch) { return ch == '\n' || ch == '\r'; },
                        [&](Py_ssize_t b, Py_ssize_t e) {
                            if (++count % signal_interval == 0) check_signals();
                            append(lines, check(PyUnicode_Substring(text, b, e)));
                        });
    return lines;
}

Ref build_text_fallback_blocks(const Call& c) {
    const State& st = c.state<State>();
    PyObject* self = c.self;
    Ref lines = call_method(self, st.normalize_text_lines, c.arg(0));
    Ref blocks = new_list();
    Ref paragraph_buffer = new_list();
    bool in_code_fence = false;

    auto flush_paragraph = [&] {
        Ref paragraph = call_method(join(st.newline, paragraph_buffer), st.strip);
        paragraph_buffer = new_list();
        if (!truthy(paragraph)) return;
        append(blocks, dict2(st.kind, st.key(f_text), st.key(f_text), paragraph));
    };
    auto buffer_line = [&](Obj line) { append(paragraph_buffer, call_method(line, st.rstrip)); };

    Py_ssize_t index = 0;
    while (index < length(lines)) {
        if (index % signal_interval == 0) check_signals();  // the rounds that call no step advance one line each
        Ref line = item_at(lines, index);
        Ref trimmed = call_method(line, st.strip);
        if (truthy(call_method(trimmed, st.startswith, st.fence))) {
            in_code_fence = !in_code_fence;
            buffer_line(line);
            ++index;
            continue;
        }
        if (in_code_fence) {
            buffer_line(line);
            ++index;
            continue;
        }
        if (!truthy(trimmed)) {
            flush_paragraph();
            ++index;
            continue;
        }
        Ref heading = call_method(self, st.parse_markdown_heading, line);
        if (heading.get() != Py_None) {
            flush_paragraph();
            append(blocks, heading);
            ++index;
            continue;
        }
        Ref table = call_method(self, st.parse_markdown_table, lines, integer(index));
        if (table.get() != Py_None) {
            flush_paragraph();
            Ref block = item_at(table, 0);
            Ref next = item_at(table, 1);
            append(blocks, block);
            index = next_index(next);
            continue;
        }
        Ref list_item = call_method(self, st.parse_markdown_list_item, line);
        if (list_item.get() != Py_None) {
            flush_paragraph();
            append(blocks, list_item);
            ++index;
            continue;
        }
        // `blocks[-1]` is read afresh at each use: the calls in between run Python code that may change `blocks`.
        if (truthy(re_match(c, st.indent_pattern, line)) && PyList_GET_SIZE(blocks.get()) > 0) {
            if (equals(get(item_at(blocks, -1), st.get, st.kind, Py_None), st.list_item)) {
                Ref joined = concat(concat(format(subscript(item_at(blocks, -1), st.key(f_text))), st.lit(Lit::space)), format(trimmed));
                Ref text = call_method(joined, st.strip);
                set_subscript(item_at(blocks, -1), st.key(f_text), text);
                ++index;
                continue;
            }
        }
        buffer_line(line);
        ++index;
    }
    flush_paragraph();
    return blocks;
}

}  // namespace rundown::generic
