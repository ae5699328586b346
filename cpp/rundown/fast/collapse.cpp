// The streaming blank-line collapse: a line is written when its first non-blank character arrives, its
// whitespace is held back until more content shows that it is not trailing.
#include "rundown/fast/collapse.hpp"

namespace rundown::fast {

using pyhost::check;

Collapser::Collapser() noexcept {
    _PyUnicodeWriter_Init(&out_);
    out_.overallocate = 1;
}

Collapser::~Collapser() {
    if (!finished_) _PyUnicodeWriter_Dealloc(&out_);
}

void Collapser::write(PyObject* s, Py_ssize_t b, Py_ssize_t e) {
    if (b < e) check(_PyUnicodeWriter_WriteSubstring(&out_, s, b, e));
}

void Collapser::write_pending() {
    for (const Span& ws : pending_ws_) write(ws.s, ws.b, ws.e);
    pending_ws_.clear();
}

void Collapser::start_content() {
    if (pending_empty_) {
        if (lines_ > 0) check(_PyUnicodeWriter_WriteChar(&out_, '\n'));
        ++lines_;
        pending_empty_ = false;
    }
    if (lines_ > 0) check(_PyUnicodeWriter_WriteChar(&out_, '\n'));
    ++lines_;
    has_content_ = true;
}

void Collapser::end_line() {
    pending_ws_.clear();
    if (has_content_) {
        blank_ = false;
        has_content_ = false;
    } else {
        if (!blank_) pending_empty_ = true;
        blank_ = true;
    }
}

void Collapser::segment(const Src& s, Py_ssize_t b, Py_ssize_t e) {
    Py_ssize_t last = e;
    while (last > b && is_space(s[last - 1])) --last;
    if (last == b) {
        pending_ws_.push_back({s.obj, b, e});
        return;
    }
    if (!has_content_) start_content();
    write_pending();
    write(s.obj, b, last);
    if (last < e) pending_ws_.push_back({s.obj, last, e});
}

void Collapser::feed(const Src& s, Py_ssize_t b, Py_ssize_t e) {
    Py_ssize_t i = b;
    if (after_cr_ && i < e) {
        after_cr_ = false;
        if (s[i] == '\n') ++i;
    }
    while (i < e) {
        Py_ssize_t j = i;
        while (j < e && !is_linebreak(s[j])) ++j;
        if (j > i) segment(s, i, j);
        if (j == e) break;
        const Py_UCS4 boundary = s[j++];
        end_line();
        if (boundary == '\r') {
            if (j == e) after_cr_ = true;
            else if (s[j] == '\n') ++j;
        }
        i = j;
    }
}

void Collapser::feed_word(const char* p, std::size_t n) {
    after_cr_ = false;
    if (!has_content_) start_content();
    write_pending();
    check(_PyUnicodeWriter_WriteASCIIString(&out_, p, static_cast<Py_ssize_t>(n)));
}

void Collapser::line_break() {
    if (after_cr_) {  // "\r" followed by "\n" is one boundary
        after_cr_ = false;
        return;
    }
    end_line();
}

pyhost::Ref Collapser::finish() {
    finished_ = true;
    return check(_PyUnicodeWriter_Finish(&out_));
}

}  // namespace rundown::fast
