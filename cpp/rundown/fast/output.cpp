// The output buffer: chunks of their own widths, growth, the str made of the chunks at the end, and the
// check for signals.
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

constexpr Py_UCS4 widest_of(int kind) noexcept {
    return kind == PyUnicode_1BYTE_KIND ? 0xFF : kind == PyUnicode_2BYTE_KIND ? 0xFFFF : 0x10FFFF;
}

// A character that the str's width needs: the OR of the characters is below 128, 256 or 65536 exactly when
// every character is (and, unlike a maximum, it vectorises with plain SSE2). Taken in blocks, so that the
// search ends at the first block that holds a character of the buffer's own width, which in most reports is
// near the start. Returns the widest character of the width when one needs it.
template <class T>
Py_UCS4 maxchar_of(const T* p, Py_ssize_t n) noexcept {
    const Py_UCS4 widest = sizeof(T) == 1 ? 0x80 : sizeof(T) == 2 ? 0x100 : 0x10000;
    Py_UCS4 bits = 0;
    for (Py_ssize_t at = 0; at < n && bits < widest; at += 256) {
        T block = 0;
        for (Py_ssize_t i = at, end = std::min(n, at + 256); i < end; ++i) block |= p[i];
        bits |= block;
    }
    return bits >= widest ? widest_of(static_cast<int>(sizeof(T))) : bits;
}

Py_UCS4 maxchar_of(const Chunk& c) noexcept {
    return with_kind(c.kind, [&](auto t) {
        return maxchar_of(static_cast<const decltype(t)*>(c.out->at(c.offset)), c.len);
    });
}

}  // namespace

void Interrupts::check() {
    budget_ = interval;
    if (pin_) pin_(context_);
    if (pyhost::api(PyErr_CheckSignals) < 0) throw pyhost::Error{};
}

Output::~Output() { std::free(data_); }

void Output::begin(int kind) noexcept {
    base_ = (used_ + 3) & ~std::size_t{3};  // a chunk of any width starts aligned for it
    kind_ = kind;
    room_ = base_ <= cap_ ? static_cast<Py_ssize_t>((cap_ - base_) / static_cast<std::size_t>(kind)) : 0;
    chunk_ = base_ <= cap_ ? data_ + base_ : nullptr;  // no room: the first write grows the buffer
    len_ = mark_ = start_ = blank_mark_ = 0;
    open_ = kept_ = false;
    run_ = BlankRun{};
}

Chunk Output::end() noexcept {
    with_kind(kind_, [&](auto c) { Writer<decltype(c)>(*this).finish(); });
    used_ = base_ + static_cast<std::size_t>(len_) * static_cast<std::size_t>(kind_);
    return {this, base_, len_, kind_};
}

void Output::grow(Py_ssize_t n) {
    // Doubling keeps the copies of growth to a few; the first size holds a short report in one page or two.
    const std::size_t need = base_ + static_cast<std::size_t>(len_ + n) * static_cast<std::size_t>(kind_);
    const std::size_t cap = std::max(need, std::max<std::size_t>(2 * cap_, 4096));
    void* grown = std::realloc(data_, cap);
    if (!grown) throw std::bad_alloc();
    data_ = static_cast<char*>(grown);
    chunk_ = data_ + base_;
    cap_ = cap;
    room_ = static_cast<Py_ssize_t>((cap_ - base_) / static_cast<std::size_t>(kind_));
}

pyhost::Ref join(const Chunk* chunks, std::size_t n) {
    Py_ssize_t total = 0;
    int kind = PyUnicode_1BYTE_KIND;
    for (std::size_t i = 0; i < n; ++i) {
        total += chunks[i].len + (i > 0 ? 2 : 0);
        kind = std::max(kind, chunks[i].kind);
    }
    // The widest character that any chunk needs; the search ends at one that needs the widest width there is.
    Py_UCS4 maxchar = 0;
    for (std::size_t i = 0; i < n && maxchar < widest_of(kind); ++i) maxchar = std::max(maxchar, maxchar_of(chunks[i]));
    pyhost::Ref result = pyhost::check(PyUnicode_New(total, maxchar));
    PyObject* s = result.get();
    with_kind(PyUnicode_KIND(s), [&](auto t) {
        using To = decltype(t);
        To* to = static_cast<To*>(PyUnicode_DATA(s));
        for (std::size_t i = 0; i < n; ++i) {
            const Chunk& c = chunks[i];
            if (i > 0) {
                *to++ = '\n';
                *to++ = '\n';
            }
            with_kind(c.kind, [&](auto f) {
                using From = decltype(f);
                const From* from = static_cast<const From*>(c.out->at(c.offset));
                if constexpr (sizeof(From) == sizeof(To))
                    std::memcpy(to, from, static_cast<std::size_t>(c.len) * sizeof(To));
                else
                    convert(from, to, c.len);
            });
            to += c.len;
        }
    });
    return result;
}

}  // namespace rundown::fast
