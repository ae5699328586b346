// Python strings read in place, slices of them, and the character classes that Python's str methods and
// its `re` module use: whitespace as str.isspace(), line boundaries as str.splitlines(), \d as decimal digits.
#pragma once

#include "pyhost/ops.hpp"
#include "rundown/text/scan.hpp"

namespace rundown::text {

/// Thrown where the record holds a value whose reading could run Python code, or that no longer fits what
/// was read of it; nothing the caller can see has happened then, and the generic path takes over.
struct NotPlain {};

/// A slice [b, e) of a Python str, read through the string's own buffer at its own width: no UTF-8 or
/// other cache is attached to the string. It borrows the str: whoever keeps it across a check for signals
/// holds its owner. `clean` records that the slice is known to hold no str.splitlines()
/// boundary, so that output can take it as a part of one line without looking at it again.
struct Piece {
    const void* data = nullptr;
    Py_ssize_t b = 0, e = 0;
    unsigned char kind = PyUnicode_1BYTE_KIND;
    bool clean = false;
    PyObject* owner = nullptr;  // the str, borrowed

    /// The whole of `s`, not yet looked at.
    static Piece of(PyObject* s) noexcept {
        return {PyUnicode_DATA(s), 0, PyUnicode_GET_LENGTH(s), static_cast<unsigned char>(PyUnicode_KIND(s)), false, s};
    }
    bool empty() const noexcept { return b >= e; }
    Piece slice(Py_ssize_t from, Py_ssize_t to) const noexcept { return {data, from, to, kind, clean, owner}; }
    Py_UCS4 operator[](Py_ssize_t i) const noexcept { return PyUnicode_READ(kind, data, i); }
};

/// Whitespace among the first 256 code points.
inline constexpr unsigned char latin1_space[256] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1,
    1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
};

/// `str.isspace()` of one character, which is also what `\s` matches in a str pattern (the characters of
/// Unicode's White_Space property but for U+180E, and the four information separators U+001C to U+001F).
inline bool is_space(Py_UCS4 c) noexcept {
    if (c < 256) return latin1_space[c];
    if (c < 0x1680 || c > 0x3000) return false;
    return c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

/// Calls `f` with the piece's buffer as a typed pointer.
template <class F>
decltype(auto) with_chars(const Piece& s, F&& f) {
    switch (s.kind) {
        case PyUnicode_1BYTE_KIND: return f(static_cast<const Py_UCS1*>(s.data));
        case PyUnicode_2BYTE_KIND: return f(static_cast<const Py_UCS2*>(s.data));
        default: return f(static_cast<const Py_UCS4*>(s.data));
    }
}

/// Code points from U+1C5A to U+A61F, CJK among them, hold no decimal digit: the interpreter's table is asked
/// only about the others.
inline constexpr Py_UCS4 no_digits_from = 0x1C5A, no_digits_to = 0xA620;

/// What `\d` matches in a str pattern: a decimal digit of any script.
inline bool is_decimal(Py_UCS4 c) noexcept {
    if (c < 128) return c >= '0' && c <= '9';
    return (c < no_digits_from || c >= no_digits_to) && Py_UNICODE_ISDECIMAL(c);
}

inline Piece lstrip(Piece p) noexcept {
    while (p.b < p.e && is_space(p[p.b])) ++p.b;
    return p;
}
inline Piece rstrip(Piece p) noexcept {
    while (p.e > p.b && is_space(p[p.e - 1])) --p.e;
    return p;
}
/// `str.strip()` without arguments.
inline Piece strip(Piece p) noexcept { return rstrip(lstrip(p)); }

/// The whole of an argument str. On 3.11, one made by the deprecated C API may not be ready yet: it is made
/// ready first, so that its characters are read (3.12 removed that API: every str is ready).
inline Piece whole(PyObject* s) {
#if PY_VERSION_HEX < 0x030C0000
    if (PyUnicode_READY(s) < 0) throw pyhost::Error{};
#endif
    return Piece::of(s);
}

/// Calls `line(b, e)` for each line of `text`, split at "\r\n" and at each character that `ends(c)` takes for
/// a line end, and returns normally when the text ends. `final_empty`: a text that ends with a line end, or is
/// empty, has an empty last line (as splitting on "\n" gives), else not (as str.splitlines() gives).
template <class Ends, class Line>
void for_each_line(const Piece& text, bool final_empty, Ends&& ends, Line&& line) {
    with_chars(text, [&](const auto* p) {
        const Py_ssize_t n = text.e;
        for (Py_ssize_t b = text.b; b < n || (final_empty && b == n);) {
            Py_ssize_t e = b;
            while ((e = find_boundary(p, e, n)) < n && !ends(p[e])) ++e;
            line(b, e);
            if (e == n) return;
            b = e + ((p[e] == '\r' && e + 1 < n && p[e + 1] == '\n') ? 2 : 1);
        }
    });
}

}  // namespace rundown::text
