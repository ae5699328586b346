// The text walk: an answer's Markdown-like text, line by line, into display blocks written straight into
// report lines. Paragraph lines are kept as slices of the text, so a long answer is never copied. The walk reads the
// text's buffer at its own width.
#include "rundown/fast/blocks.hpp"
#include "rundown/fast/match.hpp"
#include "rundown/fast/render.hpp"

#include <type_traits>

namespace rundown::fast {

namespace {

/// One line of the text: [b, e), where the next line starts (past the text's end for the last line),
/// whether the line holds a "|" (only such a line can be a table row), and whether it holds a line boundary
/// other than "\r" and "\n" (which the walk keeps within the line and the output splits at).
struct Line {
    Py_ssize_t b, e, next;
    bool pipe, odd;
};

enum class Kind { none, text, heading, table, list_item };

template <class T, class Sink>
class Walk {
public:
    Walk(Sink& out, Piece text, const T* p, WalkSpace& space)
        : out_(out), text_(text), p_(p), begin_(text.b), end_(text.e), paragraph_(space.lines), cells_(space.cells) {
        paragraph_.clear();
    }

    void run() {
        for (Py_ssize_t pos = begin_; pos <= end_;) pos = step(line_at(pos));
        flush_paragraph();
    }

private:
    // A slice of the line: free of line boundaries unless the line holds odd ones.
    Piece piece(const Line& line, Py_ssize_t b, Py_ssize_t e) const noexcept {
        Piece p = text_.slice(b, e);
        p.clean = !line.odd;
        return p;
    }

    // Lines end at "\r\n", "\r" or "\n"; a text that ends with a line break ends with an empty line.
    Line line_at(Py_ssize_t pos) const noexcept {
        Line line{pos, pos, end_ + 1, false, false};
        Py_ssize_t j = pos;
        for (;; ++j) {
            j = line.pipe ? find_boundary(p_, j, end_) : find_line_stop(p_, j, end_);
            if (j >= end_ || p_[j] == '\n' || p_[j] == '\r') break;
            if (p_[j] == '|') line.pipe = true;
            else line.odd = true;
        }
        line.e = j;
        if (j < end_) line.next = (p_[j] == '\r' && j + 1 < end_ && p_[j + 1] == '\n') ? j + 2 : j + 1;
        return line;
    }

    // Returns where the walk goes on.
    Py_ssize_t step(const Line& line) {
        const Py_ssize_t tb = skip_space(p_, line.b, line.e);
        const Py_ssize_t te = trim_space(p_, tb, line.e);
        if (te - tb >= 3 && p_[tb] == '`' && p_[tb + 1] == '`' && p_[tb + 2] == '`') {
            in_fence_ = !in_fence_;
            buffer(line);
            return line.next;
        }
        if (in_fence_) {
            buffer(line);
            return line.next;
        }
        if (tb == te) {
            flush_paragraph();
            return line.next;
        }
        Py_ssize_t text = 0;
        const Py_UCS4 first = p_[tb];
        if (const int level = first == '#' ? match_heading<true>(p_, tb, te, text) : 0) {
            flush_paragraph();
            out_.heading(piece(line, text, te), level);
            last_ = Kind::heading;
            return line.next;
        }
        if (line.pipe)
            if (const Py_ssize_t after = table(line); after >= 0) {
                last_ = Kind::table;
                return after;
            }
        if (may_start_list_item(first) && match_list_item<true>(p_, tb, te, text)) {
            flush_paragraph();
            out_.list_item(piece(line, text, te));
            last_ = Kind::list_item;
            return line.next;
        }
        if (last_ == Kind::list_item && is_space(p_[line.b])) {
            out_.extend_item(piece(line, tb, te));
            return line.next;
        }
        buffer(line);
        return line.next;
    }

    // The cells of a pipe row on the line, appended to the working cells; false for any other line.
    bool row_cells(const Line& line) { return match_pipe_row(piece(line, line.b, line.e), p_, cells_); }

    // A pipe table from `header`: a header row, a delimiter row, then body rows up to a blank line, a line
    // that is no row, or another delimiter row. Returns where the walk goes on, or -1 when there is no table.
    Py_ssize_t table(const Line& header) {
        cells_.clear();
        if (!row_cells(header)) return -1;
        const std::size_t header_cells = cells_.size();
        if (header.next > end_) return -1;
        const Line delimiter = line_at(header.next);
        if (!delimiter.pipe || !row_cells(delimiter) ||
            !is_delimiter_row(p_, cells_.data() + header_cells, cells_.size() - header_cells))
            return -1;
        flush_paragraph();
        out_.table_row(cells_.data(), header_cells);
        Py_ssize_t pos = delimiter.next;
        while (pos <= end_) {
            const Line row = line_at(pos);
            if (skip_space(p_, row.b, row.e) == row.e) break;
            cells_.clear();
            if (!row.pipe || !row_cells(row) ||
                is_delimiter_row(p_, cells_.data(), cells_.size()))
                break;
            out_.table_row(cells_.data(), cells_.size());
            pos = row.next;
        }
        return pos;
    }

    // A paragraph line, right-stripped.
    void buffer(const Line& line) { paragraph_.push_back(piece(line, line.b, trim_space(p_, line.b, line.e))); }

    // The paragraph's lines joined with "\n" and stripped as a whole; nothing when that leaves no text.
    void flush_paragraph() {
        while (!paragraph_.empty()) {
            Piece& last = paragraph_.back();
            last.e = trim_space(p_, last.b, last.e);
            if (!last.empty()) break;
            paragraph_.pop_back();
        }
        std::size_t first = 0;
        while (first < paragraph_.size()) {
            Piece& head = paragraph_[first];
            head.b = skip_space(p_, head.b, head.e);
            if (!head.empty()) break;
            ++first;
        }
        if (first < paragraph_.size()) {
            out_.text(paragraph_.data() + first, paragraph_.size() - first);
            last_ = Kind::text;
        }
        paragraph_.clear();
    }

    Sink& out_;
    const Piece text_;
    const T* p_;
    const Py_ssize_t begin_, end_;
    bool in_fence_ = false;
    Kind last_ = Kind::none;
    std::vector<Piece>& paragraph_;
    std::vector<Piece>& cells_;
};

}  // namespace

template <class Out>
void write_text(Writer<Out>& lines, Piece text, WalkSpace& space) {
    BlockLines<Out> out(lines, space.header);
    with_chars(text, [&](const auto* p) { Walk<std::remove_cvref_t<decltype(*p)>, BlockLines<Out>>(out, text, p, space).run(); });
    out.finish();
}

template void write_text(Writer<Py_UCS1>&, Piece, WalkSpace&);
template void write_text(Writer<Py_UCS2>&, Piece, WalkSpace&);
template void write_text(Writer<Py_UCS4>&, Piece, WalkSpace&);

}  // namespace rundown::fast
