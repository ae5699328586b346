// Line matchers for the Markdown constructs of an answer text, as small predicates over a typed buffer. Each
// gives what the Python code gets from `re.match` on the same stripped line (no flags: `.` stops at "\n",
// `$` is the end of the stripped line, `\s` and `\d` are Unicode-aware).
#pragma once

#include "rundown/text/text.hpp"

#include <cstddef>

namespace rundown::text {

template <class T>
inline Py_ssize_t skip_space(const T* p, Py_ssize_t b, Py_ssize_t e) noexcept {
    while (b < e && is_space(p[b])) ++b;
    return b;
}

template <class T>
inline Py_ssize_t trim_space(const T* p, Py_ssize_t b, Py_ssize_t e) noexcept {  // the end, right-stripped
    while (e > b && is_space(p[e - 1])) --e;
    return e;
}

namespace detail {

// `\s+(.*)$` from `i`: at least one whitespace character, then a rest without "\n" that runs to the end. The
// rest begins after the whole whitespace run (where the match puts it); false when there is no such split.
// `OneLine`: [i, e) is known to hold no "\n".
template <bool OneLine, class T>
inline bool space_then_rest(const T* p, Py_ssize_t i, Py_ssize_t e, Py_ssize_t& rest) noexcept {
    if (i >= e || !is_space(p[i])) return false;
    i = skip_space(p, i, e);
    if (!OneLine && find_ascii(p, i, e, '\n') != e) return false;
    rest = i;
    return true;
}

}  // namespace detail

/// `^(#{1,6})\s+(.*)$` on the stripped line [b, e), group 2 stripped and non-empty ([text, e)): the number
/// of marks, else 0. `OneLine`: the line is known to hold no "\n", as the lines of a text walk.
template <bool OneLine = false, class T>
int match_heading(const T* p, Py_ssize_t b, Py_ssize_t e, Py_ssize_t& text) noexcept {
    Py_ssize_t i = b;
    while (i < e && p[i] == '#') ++i;
    const Py_ssize_t marks = i - b;
    // Past six marks the pattern, whatever it backtracks to, meets a seventh "#" where it needs whitespace.
    if (marks < 1 || marks > 6) return 0;
    if (!detail::space_then_rest<OneLine>(p, i, e, text) || text == e) return 0;
    return static_cast<int>(marks);  // the text is stripped already: it follows whitespace, the line is stripped
}

/// Whether a list item can begin with `c`: a bullet or a decimal digit.
[[gnu::always_inline]] inline bool may_start_list_item(Py_UCS4 c) noexcept {
    return c == '-' || c == '*' || c == 0x2022 || is_decimal(c);
}

/// `^([-*•])\s+(.*)$`, else `^\d+[.)]\s+(.*)$`, on the stripped line [b, e), with a non-empty item text.
template <bool OneLine = false, class T>
bool match_list_item(const T* p, Py_ssize_t b, Py_ssize_t e, Py_ssize_t& text) noexcept {
    if (b >= e) return false;
    const Py_UCS4 first = p[b];
    if (first == '-' || first == '*' || first == 0x2022)  // a bullet match is final: a bullet is no digit
        return detail::space_then_rest<OneLine>(p, b + 1, e, text) && text < e;
    Py_ssize_t i = b;
    while (i < e && is_decimal(p[i])) ++i;
    if (i == b || i >= e || (p[i] != '.' && p[i] != ')')) return false;
    return detail::space_then_rest<OneLine>(p, i + 1, e, text) && text < e;
}

/// `^:?-{3,}:?$` on the stripped cell [b, e).
template <class T>
bool match_delimiter_cell(const T* p, Py_ssize_t b, Py_ssize_t e) noexcept {
    if (b < e && p[b] == ':') ++b;
    const Py_ssize_t dashes = b;
    while (b < e && p[b] == '-') ++b;
    if (b - dashes < 3) return false;
    if (b < e && p[b] == ':') ++b;
    return b == e;
}

/// Calls `cell(slice)` for each cell of a line that holds a "|": the line split on every "|", each part
/// stripped, an empty first part and an empty last part left out. The cells are slices of `line`, so a row is
/// never copied: it is split again whenever its cells are needed.
template <class T, class Cell>
void pipe_cells(const Piece& line, const T* p, Cell&& cell) {
    const Py_ssize_t b = line.b, e = line.e;
    for (Py_ssize_t start = b;;) {
        const Py_ssize_t pipe = find_ascii(p, start, e, '|');
        const Py_ssize_t cb = skip_space(p, start, pipe), ce = trim_space(p, cb, pipe);
        if (pipe == e) {  // the last part: there is a "|" before it
            if (ce > cb) cell(line.slice(cb, ce));
            return;
        }
        if (start != b || ce > cb) cell(line.slice(cb, ce));
        start = pipe + 1;
    }
}

/// Whether `line` is a pipe row: a "|" in it, two cells at least, and one of them neither empty nor "-".
/// Returns its number of cells, or 0 for any other line; `delimiter`, when given, tells whether every cell is
/// a delimiter cell; the first `keep_n` cells are kept in `keep`.
template <class T>
std::size_t match_pipe_row(const Piece& line, const T* p, bool* delimiter = nullptr, Piece* keep = nullptr,
                           std::size_t keep_n = 0) {
    std::size_t n = 0;  // a line without "|" has one part: one cell at most
    bool content = false, all_delimiters = true;
    pipe_cells(line, p, [&](const Piece& c) {
        if (n < keep_n) keep[n] = c;
        ++n;
        content = content || c.e - c.b > 1 || (c.e > c.b && p[c.b] != '-');
        if (delimiter) all_delimiters = all_delimiters && match_delimiter_cell(p, c.b, c.e);
    });
    if (delimiter) *delimiter = all_delimiters;
    return n >= 2 && content ? n : 0;
}

/// The same matchers on pieces of any width.
inline int match_heading(Piece t, Piece& text) noexcept {
    Py_ssize_t at = 0;
    const int level = with_chars(t, [&](const auto* p) { return match_heading(p, t.b, t.e, at); });
    if (level) text = t.slice(at, t.e);
    return level;
}

inline bool match_list_item(Piece t, Piece& text) noexcept {
    Py_ssize_t at = 0;
    const bool found = with_chars(t, [&](const auto* p) { return match_list_item(p, t.b, t.e, at); });
    if (found) text = t.slice(at, t.e);
    return found;
}

inline bool match_delimiter_cell(Piece cell) noexcept {
    return with_chars(cell, [&](const auto* p) { return match_delimiter_cell(p, cell.b, cell.e); });
}

inline std::size_t match_pipe_row(Piece line) {
    return with_chars(line, [&](const auto* p) { return match_pipe_row(line, p); });
}

}  // namespace rundown::text
