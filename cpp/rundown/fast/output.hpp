// The report's output: lines written into one buffer and tidied as they are written. Each line loses its
// trailing whitespace when it ends, a run of blank lines becomes one empty line, blank lines at the end go,
// and text that holds line boundaries of its own is split at every str.splitlines() boundary on the way in.
// The result is the same as joining the raw lines and tidying them afterwards, without a second pass.
#pragma once

#include "rundown/fast/text.hpp"

#include <cstring>

namespace rundown::fast {

/// The buffer: characters of one of the three str widths, widened between sections as wider text arrives.
class Output {
public:
    Output() = default;
    ~Output();
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    int kind() const noexcept { return kind_; }
    /// Makes room for characters of `kind`.
    void widen(int kind);
    /// The tidied report; the output is spent afterwards.
    pyhost::Ref finish();

private:
    template <class>
    friend class Writer;
    void grow(Py_ssize_t n);

    void* data_ = nullptr;
    int kind_ = PyUnicode_1BYTE_KIND;
    Py_ssize_t len_ = 0, cap_ = 0;
    // The line being written: its separator from the lines before starts at mark_, its text at start_.
    Py_ssize_t mark_ = 0, start_ = 0;
    bool any_ = false;      // a line with text was kept
    bool pending_ = false;  // an empty line is due before the next line with text
    bool blank_ = false;    // the line that ended last was blank
    bool started_ = false;  // the current section has a line
};

/// Writes lines into an output whose width holds every piece it is given.
template <class Out>
class Writer {
public:
    explicit Writer(Output& o) noexcept : o_(o) {}

    /// Begins the next line of the section: "\n" between the lines of a section.
    Writer& next() {
        if (o_.started_) line_break();
        o_.started_ = true;
        return *this;
    }
    /// Begins the next section: "\n\n" between sections; its first line follows.
    void next_section() {
        if (o_.started_) {
            line_break();
            line_break();
        }
        o_.started_ = false;
    }

    void put(const Piece& p) {
        if (p.empty()) return;
        with_chars(p, [&](const auto* s) {
            if (p.clean) copy(s + p.b, p.e - p.b);
            else split(s, p.b, p.e);
        });
    }
    /// ASCII text without line boundaries, such as a number or a mark.
    void word(const char* s, std::size_t n) { copy(reinterpret_cast<const unsigned char*>(s), static_cast<Py_ssize_t>(n)); }
    /// A raw line boundary: the line ends, the next one begins.
    void line_break() {
        end_line();
        begin_line();
    }

    /// Ends the last line: called once, before the output is finished.
    void end_line() noexcept {
        const Out* p = buffer();
        Py_ssize_t len = o_.len_;
        while (len > o_.start_ && is_space(p[len - 1])) --len;
        if (len == o_.start_) {
            o_.len_ = o_.mark_;  // a blank line keeps nothing of its own
            if (!o_.blank_) o_.pending_ = true;
            o_.blank_ = true;
        } else {
            o_.len_ = len;
            o_.any_ = true;
            o_.pending_ = o_.blank_ = false;
        }
    }

private:
    Out* buffer() const noexcept { return static_cast<Out*>(o_.data_); }
    Out* room(Py_ssize_t n) {
        if (o_.len_ + n > o_.cap_) o_.grow(n);
        return buffer() + o_.len_;
    }

    // The separator that the line gets if it keeps any text is written in advance: the empty line of a
    // blank run before it (a run before the first line counts too), then "\n" when a line precedes it.
    void begin_line() {
        o_.mark_ = o_.len_;
        Out* d = room(2);
        Py_ssize_t n = 0;
        if (o_.pending_) d[n++] = '\n';
        if (o_.any_) d[n++] = '\n';
        o_.len_ += n;
        o_.start_ = o_.len_;
    }

    template <class In>
    void copy(const In* s, Py_ssize_t n) {
        Out* d = room(n);
        if (sizeof(In) == sizeof(Out) && n > 16) {
            std::memcpy(d, s, static_cast<std::size_t>(n) * sizeof(Out));
        } else {
            for (Py_ssize_t i = 0; i < n; ++i) d[i] = static_cast<Out>(s[i]);  // fits: the output is wide enough
        }
        o_.len_ += n;
    }

    template <class In>
    void split(const In* s, Py_ssize_t b, Py_ssize_t e) {
        for (;;) {
            const Py_ssize_t k = find_boundary(s, b, e);
            copy(s + b, k - b);
            if (k == e) return;
            line_break();
            b = k + ((s[k] == '\r' && k + 1 < e && s[k + 1] == '\n') ? 2 : 1);
        }
    }

    Output& o_;
};

/// Calls `f` with a writer of the output's width.
template <class F>
decltype(auto) with_writer(Output& o, F&& f) {
    switch (o.kind()) {
        case PyUnicode_1BYTE_KIND: {
            Writer<Py_UCS1> w(o);
            return f(w);
        }
        case PyUnicode_2BYTE_KIND: {
            Writer<Py_UCS2> w(o);
            return f(w);
        }
        default: {
            Writer<Py_UCS4> w(o);
            return f(w);
        }
    }
}

}  // namespace rundown::fast
