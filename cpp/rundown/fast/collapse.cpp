// The output buffer and the blank-line collapse over it. The collapse writes each kept line at or before the
// place it was read from (every "\n" it writes stands for at least one line boundary it read), so it runs
// in place; the kept characters alone decide the width of the resulting str.
#include "rundown/fast/collapse.hpp"

#include <algorithm>
#include <cstdlib>
#include <new>

namespace rundown::fast {

namespace {

int kind_for(Py_UCS4 maxchar) noexcept {
    return maxchar < 256 ? PyUnicode_1BYTE_KIND : maxchar < 65536 ? PyUnicode_2BYTE_KIND : PyUnicode_4BYTE_KIND;
}

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

// The collapse of p[0, n) into p[0, result): returns the new length.
template <class T>
Py_ssize_t collapse(T* p, Py_ssize_t n) noexcept {
    Py_ssize_t r = 0, w = 0;
    long long lines = 0;
    bool pending_empty = false, blank = false;
    while (r < n) {
        const Py_ssize_t start = r;
        r = find_boundary(p, r, n);
        Py_ssize_t content_end = r;
        while (content_end > start && is_space(p[content_end - 1])) --content_end;
        if (content_end > start) {
            if (pending_empty) {
                if (lines > 0) p[w++] = '\n';
                ++lines;
                pending_empty = false;
            }
            if (lines > 0) p[w++] = '\n';
            ++lines;
            if (w != start)
                for (Py_ssize_t i = start; i < content_end; ++i) p[w + (i - start)] = p[i];  // moves left only
            w += content_end - start;
            blank = false;
        } else {
            if (!blank) pending_empty = true;
            blank = true;
        }
        if (r < n) r += (p[r] == '\r' && r + 1 < n && p[r + 1] == '\n') ? 2 : 1;
    }
    return w;
}

// The OR of all characters: below 128, 256 or 65536 exactly when every character is, which is all that the
// choice of a str's width needs (and, unlike a maximum, it vectorises with plain SSE2).
template <class T>
Py_UCS4 bits_of(const T* p, Py_ssize_t n) noexcept {
    T bits = 0;
    for (Py_ssize_t i = 0; i < n; ++i) bits |= p[i];
    return bits;
}

}  // namespace

Collapser::~Collapser() { std::free(data_); }

void Collapser::grow(Py_ssize_t n, int kind) {
    // Doubling keeps the copies of growth to a few; the first size holds a short report in one page or two.
    const Py_ssize_t cap = std::max(len_ + n, std::max<Py_ssize_t>(2 * cap_, 4096));
    if (kind == kind_) {
        void* grown = std::realloc(data_, static_cast<std::size_t>(cap) * static_cast<std::size_t>(kind));
        if (!grown) throw std::bad_alloc();
        data_ = grown;
    } else {
        void* wider = std::malloc(static_cast<std::size_t>(cap) * static_cast<std::size_t>(kind));
        if (!wider) throw std::bad_alloc();
        with_kind(kind_, [&](auto from) {
            with_kind(kind, [&](auto to) {
                convert(static_cast<const decltype(from)*>(data_), static_cast<decltype(to)*>(wider), len_);
            });
        });
        std::free(data_);
        data_ = wider;
        kind_ = kind;
    }
    cap_ = cap;
}

void Collapser::make_room(const Src& s, Py_ssize_t b, Py_ssize_t e) {
    int kind = kind_;
    if (s.kind > kind_) {
        // Only the slice's own characters decide: a wide string may hold a narrow slice.
        const Py_UCS4 maxchar = with_chars(s, [&](const auto* p) {
            Py_UCS4 m = 0;
            for (Py_ssize_t i = b; i < e; ++i) m = std::max<Py_UCS4>(m, p[i]);
            return m;
        });
        kind = std::max(kind_, kind_for(maxchar));
    }
    if (kind != kind_ || len_ + (e - b) > cap_) grow(e - b, kind);
}

pyhost::Ref Collapser::finish() {
    // Whitespace cut at line ends may have been all that needed the width reached: the kept characters decide.
    const Py_UCS4 bits = with_kind(kind_, [&](auto c) {
        auto* p = static_cast<decltype(c)*>(data_);
        len_ = collapse(p, len_);
        return bits_of(p, len_);
    });
    pyhost::Ref result = pyhost::check(PyUnicode_New(len_, bits < 65536 ? bits : 0x10FFFF));
    PyObject* s = result.get();
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
