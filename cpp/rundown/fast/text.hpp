// Python strings read in place, slices of them, and the character classes that Python's str methods and
// its `re` module use: whitespace as str.isspace(), line boundaries as str.splitlines(), \d as decimal digits.
#pragma once

#include "pyhost/ops.hpp"

#include <deque>
#include <vector>

namespace rundown::fast {

/// The contents of a Python str, read through its own buffer: no UTF-8 or other cache is attached to it.
struct Src {
    PyObject* obj;
    int kind;
    const void* data;
    Py_ssize_t len;

    explicit Src(PyObject* s) noexcept
        : obj(s), kind(PyUnicode_KIND(s)), data(PyUnicode_DATA(s)), len(PyUnicode_GET_LENGTH(s)) {}
    Py_UCS4 operator[](Py_ssize_t i) const noexcept { return PyUnicode_READ(kind, data, i); }
};

/// A slice [b, e) of a source string.
struct Piece {
    const Src* src = nullptr;
    Py_ssize_t b = 0, e = 0;

    bool empty() const noexcept { return b >= e; }
    Py_UCS4 operator[](Py_ssize_t i) const noexcept { return (*src)[i]; }
};

/// `str.isspace()` of one character, which is also what `\s` matches in a str pattern.
inline bool is_space(Py_UCS4 c) noexcept { return Py_UNICODE_ISSPACE(c); }

/// A line boundary of `str.splitlines()`.
inline bool is_linebreak(Py_UCS4 c) noexcept {
    if (c < 128) return (c >= 0x0A && c <= 0x0D) || (c >= 0x1C && c <= 0x1E);
    return c == 0x85 || c == 0x2028 || c == 0x2029;
}

/// What `\d` matches in a str pattern: a decimal digit of any script.
inline bool is_decimal(Py_UCS4 c) noexcept { return c < 128 ? (c >= '0' && c <= '9') : Py_UNICODE_ISDECIMAL(c); }

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

/// Whether the piece holds exactly the ASCII text `lit`.
inline bool equals_ascii(Piece p, const char* lit) noexcept {
    for (Py_ssize_t i = p.b;; ++i, ++lit) {
        if (*lit == 0) return i == p.e;
        if (i == p.e || p[i] != static_cast<unsigned char>(*lit)) return false;
    }
}

/// The strings that one report reads, kept alive (and read in place) for as long as the report is built.
class Arena {
public:
    /// A source for a str the caller keeps alive; it is referenced once more here.
    const Src* hold(PyObject* s) {
        refs_.push_back(pyhost::Ref::borrow(s));
        return &srcs_.emplace_back(s);
    }
    /// A source for a new str (the result of `str()`), owned here.
    const Src* own(pyhost::Ref s) {
        PyObject* p = s.get();
        refs_.push_back(std::move(s));
        return &srcs_.emplace_back(p);
    }

private:
    std::deque<Src> srcs_;
    std::vector<pyhost::Ref> refs_;
};

}  // namespace rundown::fast
