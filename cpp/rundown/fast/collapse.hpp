// The report's output: pieces of text appended to one buffer, then tidied in a single pass over it, in
// place (split at every str.splitlines() boundary, trailing whitespace cut from each line, every run of
// blank lines made one empty line, blank lines at the end dropped), and turned into one str.
#pragma once

#include "rundown/fast/text.hpp"

#include <cstring>

namespace rundown::fast {

/// Characters in the narrowest of the three str widths that holds them, widened as wider characters arrive.
class Collapser {
public:
    Collapser() = default;
    ~Collapser();
    Collapser(const Collapser&) = delete;
    Collapser& operator=(const Collapser&) = delete;

    void feed(Piece p) {
        if (!p.empty()) feed(*p.src, p.b, p.e);
    }
    void feed(PyObject* s) { feed(Src(s), 0, PyUnicode_GET_LENGTH(s)); }
    void feed(const Src& s, Py_ssize_t b, Py_ssize_t e) {
        const Py_ssize_t n = e - b;
        if (n <= 0) return;
        if (s.kind > kind_ || len_ + n > cap_) make_room(s, b, e);
        with_chars(s, [&](const auto* p) { copy(p + b, n); });
    }
    /// ASCII text, such as a number.
    void feed_word(const char* p, std::size_t n) {
        const auto count = static_cast<Py_ssize_t>(n);
        if (len_ + count > cap_) grow(count, kind_);
        copy(reinterpret_cast<const unsigned char*>(p), count);
    }
    /// A line feed.
    void line_break() { feed_word("\n", 1); }

    /// The tidied report; the collapser is spent afterwards.
    pyhost::Ref finish();

private:
    template <class In>
    void copy(const In* p, Py_ssize_t n) noexcept {
        switch (kind_) {
            case PyUnicode_1BYTE_KIND: put(static_cast<Py_UCS1*>(data_) + len_, p, n); break;
            case PyUnicode_2BYTE_KIND: put(static_cast<Py_UCS2*>(data_) + len_, p, n); break;
            default: put(static_cast<Py_UCS4*>(data_) + len_, p, n); break;
        }
        len_ += n;
    }
    template <class Out, class In>
    static void put(Out* dst, const In* src, Py_ssize_t n) noexcept {
        if (sizeof(Out) == sizeof(In) && n > 32) {
            std::memcpy(dst, src, static_cast<std::size_t>(n) * sizeof(Out));
        } else {
            for (Py_ssize_t i = 0; i < n; ++i) dst[i] = static_cast<Out>(src[i]);  // fits: see make_room
        }
    }
    void make_room(const Src& s, Py_ssize_t b, Py_ssize_t e);
    void grow(Py_ssize_t n, int kind);

    void* data_ = nullptr;
    int kind_ = PyUnicode_1BYTE_KIND;
    Py_ssize_t len_ = 0, cap_ = 0;
};

/// The report as lines: "\n" between the lines of a section, "\n\n" between sections.
class Lines {
public:
    explicit Lines(Collapser& out) noexcept : out_(out) {}
    /// Begins the next line of the section.
    Collapser& next() {
        if (started_) out_.line_break();
        started_ = true;
        return out_;
    }
    /// Begins the next section: its first line follows.
    void next_section() {
        if (started_) out_.feed_word("\n\n", 2);
        started_ = false;
    }

private:
    Collapser& out_;
    bool started_ = false;
};

}  // namespace rundown::fast
