// The generic path of RundownWriter: every method as a body over Python objects, each step reached
// through the instance and `re` through the module namespace, so that overrides and replacements apply.
#pragma once

#include "pyhost/function.hpp"
#include "pyhost/ops.hpp"
#include "rundown/rules.hpp"
#include "rundown/state.hpp"
#include "rundown/text/text.hpp"

#include <climits>
#include <string_view>

namespace rundown::generic {

using pyhost::Call;
using pyhost::Obj;
using pyhost::Ref;

/// `re.match(pattern, s)` with `re` read from the module namespace now.
inline Ref re_match(const Call& c, Obj pattern, Obj s) {
    const State& st = c.state<State>();
    return pyhost::call_method(c.global(st.re), st.match, pattern, s);
}

/// The text of a value: `str()` of a truthy value, else "", then stripped.
inline Ref text_of(const State& st, Obj value) {
    return pyhost::call_method(pyhost::truthy(value) ? pyhost::str(value) : st.empty, st.strip);
}

/// An int's value, held to the range of a long long.
inline long long saturated(PyObject* v) {
    int overflow = 0;
    const long long n = PyLong_AsLongLongAndOverflow(v, &overflow);
    if (n == -1 && PyErr_Occurred()) throw pyhost::Error{};
    return overflow > 0 ? LLONG_MAX : overflow < 0 ? LLONG_MIN : n;
}

/// A line of the report's rules made of Python strs: its parts joined, or its one part itself.
class PyLine {
public:
    explicit PyLine(const State& st) noexcept : st_(&st) {}
    void put(Obj text) {
        if (!first_) {
            first_ = Ref::borrow(text);
            return;
        }
        if (!rest_) {
            rest_ = pyhost::new_list();
            pyhost::append(rest_, first_);
        }
        pyhost::append(rest_, text);
    }
    void lit(Lit l) { put(st_->lit(l)); }
    void word(std::string_view ascii) { put(pyhost::str_from(ascii)); }
    void number(Obj n) { put(n); }
    /// The line: "" when nothing was put.
    Ref value() const { return rest_ ? pyhost::join(st_->empty, rest_) : first_ ? first_ : st_->empty; }

private:
    const State* st_;
    Ref first_, rest_;
};

/// The lines that the report's rules write, gathered into a list of str.
class PyLines {
public:
    explicit PyLines(const State& st) : st_(st), list_(pyhost::new_list()), line_(st) {}
    PyLine& next() {
        close();
        open_ = true;
        return line_;
    }
    /// Appends every item of `lines`.
    void extend(Obj lines) {
        close();
        pyhost::Iter it(lines);
        while (Ref line = it.next()) pyhost::append(list_, line);
    }
    bool empty(Obj text) const { return !pyhost::truthy(text); }
    /// Whether a line was begun.
    bool any() const noexcept { return open_ || PyList_GET_SIZE(list_.get()) > 0; }
    Ref finish() {
        close();
        return list_;
    }

private:
    void close() {
        if (!open_) return;
        pyhost::append(list_, line_.value());
        line_ = PyLine(st_);
        open_ = false;
    }
    const State& st_;
    Ref list_;
    PyLine line_;
    bool open_ = false;
};

/// A new dict {k1: v1, k2: v2}, keys in that order.
inline Ref dict2(Obj k1, Obj v1, Obj k2, Obj v2) {
    Ref d = pyhost::new_dict();
    pyhost::set_item(d, k1, v1);
    pyhost::set_item(d, k2, v2);
    return d;
}

// Markdown line parsers.
Ref parse_markdown_heading(const Call& c);
Ref parse_markdown_list_item(const Call& c);
Ref parse_markdown_table(const Call& c);
Ref is_markdown_delimiter_row(const Call& c);

// Text fallback walk.
Ref normalize_text_lines(const Call& c);
Ref build_text_fallback_blocks(const Call& c);

// Block conversion and rendering.
Ref to_structured_blocks(const Call& c);
Ref render_blocks(const Call& c);
Ref collapse_blank_lines(const Call& c);

// Structured block assembly.
Ref build_answer_blocks(const Call& c);
Ref build_structured_answer_blocks(const Call& c);
Ref normalize_structured_row(const Call& c);
Ref normalize_row_cells(const Call& c);

// Answer body and link lists.
Ref format_answer_body(const Call& c);
Ref format_product_links(const Call& c);
Ref format_recommended_asins(const Call& c);
Ref format_link_items(const Call& c);

// Report assembly.
Ref format_data(const Call& c);
Ref extract_questions(const Call& c);
Ref normalize_question_list(const Call& c);
Ref question_at(const Call& c);
Ref format_section(const Call& c);

}  // namespace rundown::generic
