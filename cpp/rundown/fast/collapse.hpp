// The report's output: text fed in pieces is tidied on the fly, as a blank-line collapse of the whole text
// would tidy it (split at every str.splitlines() boundary, trailing whitespace cut from each line, every run
// of blank lines made one empty line, blank lines at the end dropped), and written once into one str.
#pragma once

#include "rundown/fast/text.hpp"

#include <vector>

namespace rundown::fast {

/// Accumulates the tidied report in the interpreter's own string writer.
class Collapser {
public:
    Collapser() noexcept;
    ~Collapser();
    Collapser(const Collapser&) = delete;
    Collapser& operator=(const Collapser&) = delete;

    /// Any text.
    void feed(const Src& s, Py_ssize_t b, Py_ssize_t e);
    void feed(Piece p) { feed(*p.src, p.b, p.e); }
    void feed(PyObject* s) { feed(Src(s), 0, PyUnicode_GET_LENGTH(s)); }
    /// Printable ASCII without whitespace, such as a number.
    void feed_word(const char* p, std::size_t n);
    /// A line feed.
    void line_break();

    /// The report; the collapser is spent afterwards.
    pyhost::Ref finish();

private:
    void segment(const Src& s, Py_ssize_t b, Py_ssize_t e);  // no line boundary inside
    void start_content();
    void end_line();
    void write(PyObject* s, Py_ssize_t b, Py_ssize_t e);
    void write_pending();

    struct Span {  // a slice of a str that outlives the collapser
        PyObject* s;
        Py_ssize_t b, e;
    };

    _PyUnicodeWriter out_;
    bool finished_ = false;
    long long lines_ = 0;          // lines written so far
    bool pending_empty_ = false;   // an empty line that is written only if content follows
    bool blank_ = false;           // the last finished line was blank
    bool has_content_ = false;     // the current line has a character that is not whitespace
    bool after_cr_ = false;        // the last character fed was "\r", which pairs with a following "\n"
    std::vector<Span> pending_ws_;  // whitespace of the current line not yet written
};

/// The report as lines: "\n" between the lines of a section, "\n\n" between sections.
class Lines {
public:
    explicit Lines(Collapser& out) noexcept : out_(out) {}
    Collapser& out() noexcept { return out_; }
    /// Begins the next line of the section.
    Collapser& next() {
        if (started_) out_.line_break();
        started_ = true;
        return out_;
    }
    /// Begins the next section: its first line follows.
    void next_section() {
        if (started_) {
            out_.line_break();
            out_.line_break();
        }
        started_ = false;
    }

private:
    Collapser& out_;
    bool started_ = false;
};

}  // namespace rundown::fast
