// The output buffer: growth, widening, and the str made of it at the end, whose width the kept characters
// alone decide (whitespace cut at line ends may have been all that needed a wider one).
#include "rundown/fast/output.hpp"

#include <algorithm>
#include <cstdlib>
#include <new>

namespace rundown::fast {

namespace {

template <class F>
decltype(auto) with_kind(int kind, F&& f) {
    switch (kind) {
        case PyUnicode_1BYTE_KIND: return f(Py_UCS1{});
        case PyUnicode_2BYTE_KIND: return f(Py_UCS2{});
        default: return f(Py_UCS4{});
    }
}

template <class From, class To>
void convert(const From* from, To* to, Py_ssize_t n) noexcept {
    for (Py_ssize_t i = 0; i < n; ++i) to[i] = static_cast<To>(from[i]);
}

// A character that the str's width needs: the OR of the characters is below 128, 256 or 65536 exactly when
// every character is (and, unlike a maximum, it vectorises with plain SSE2). Taken in blocks, so that the
// search ends at the first block that holds a character of the buffer's own width, which in most reports is
// near the start.
template <class T>
Py_UCS4 maxchar_of(const T* p, Py_ssize_t n) noexcept {
    const Py_UCS4 widest = sizeof(T) == 1 ? 0x80 : sizeof(T) == 2 ? 0x100 : 0x10000;
    Py_UCS4 bits = 0;
    for (Py_ssize_t at = 0; at < n && bits < widest; at += 256) {
        T block = 0;
        for (Py_ssize_t i = at, end = std::min(n, at + 256); i < end; ++i) block |= p[i];
        bits |= block;
    }
    if (bits >= widest) return sizeof(T) == 1 ? 0xFF : sizeof(T) == 2 ? 0xFFFF : 0x10FFFF;
    return bits;
}

void* allocate(Py_ssize_t n, int kind) {
    void* p = std::malloc(static_cast<std::size_t>(n) * static_cast<std::size_t>(kind));
    if (!p) throw std::bad_alloc();
    return p;
}

}  // namespace

Output::~Output() { std::free(data_); }

void Output::grow(Py_ssize_t n) {
    // Doubling keeps the copies of growth to a few; the first size holds a short report in one page or two.
    const Py_ssize_t cap = std::max(len_ + n, std::max<Py_ssize_t>(2 * cap_, 4096));
    void* grown = std::realloc(data_, static_cast<std::size_t>(cap) * static_cast<std::size_t>(kind_));
    if (!grown) throw std::bad_alloc();
    data_ = grown;
    cap_ = cap;
}

void Output::widen(int kind) {
    if (kind <= kind_) return;
    const Py_ssize_t cap = std::max<Py_ssize_t>(cap_, 4096);
    void* wider = allocate(cap, kind);
    with_kind(kind_, [&](auto from) {
        with_kind(kind, [&](auto to) {
            convert(static_cast<const decltype(from)*>(data_), static_cast<decltype(to)*>(wider), len_);
        });
    });
    std::free(data_);
    data_ = wider;
    kind_ = kind;
    cap_ = cap;
}

pyhost::Ref Output::finish() {
    const Py_UCS4 maxchar = with_kind(kind_, [&](auto c) {
        using T = decltype(c);
        Writer<T>(*this).end_line();
        return maxchar_of(static_cast<const T*>(data_), len_);
    });
    pyhost::Ref result = pyhost::check(PyUnicode_New(len_, maxchar));
    PyObject* s = result.get();
    if (len_ == 0) return result;
    with_kind(kind_, [&](auto from) {
        with_kind(PyUnicode_KIND(s), [&](auto to) {
            using To = decltype(to);
            if constexpr (sizeof(To) == sizeof(from))
                std::memcpy(PyUnicode_DATA(s), data_, static_cast<std::size_t>(len_) * sizeof(To));
            else
                convert(static_cast<const decltype(from)*>(data_), static_cast<To*>(PyUnicode_DATA(s)), len_);
        });
    });
    return result;
}

}  // namespace rundown::fast
