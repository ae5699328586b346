// The text walk: an answer's Markdown-like text, line by line, into blocks written straight into report
// lines. A paragraph is kept as where its lines lie in the text (a long one as runs of lines) and a table row
// as its line, so the walk holds no copy of the text and a bounded list of its parts, whatever their number.
// The walk reads the text's buffer at its own width.
#include "rundown/fast/walk.hpp"

#include <algorithm>
#include <type_traits>
#include <vector>

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

/// A run of consecutive paragraph lines: from the start of its first line to the end of its last, and where
/// the line after it starts.
struct Run {
    Py_ssize_t b, e, next;
    bool lines;  // more than one line: their ends are found again when it is written
    bool odd;    // the one line holds line boundaries other than "\r" and "\n"
};

template <class T, class Sink>
class Walk {
public:
    Walk(Sink& out, Piece text, const T* p, Interrupts& interrupts)
        : out_(out), text_(text), p_(p), begin_(text.b), end_(text.e), interrupts_(interrupts) {}

    void run() {
        for (Py_ssize_t pos = begin_; pos <= end_;) {
            const Line line = line_at(pos);
            interrupts_.tick(line.next - line.b);
            pos = step(line);
        }
        flush_paragraph();
        group_end(out_);
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
            group_heading(out_, piece(line, text, te), level);
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
            group_list_item(out_, piece(line, text, te));
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

    // The line as a pipe row: its number of cells is 0 when it is no row; `delimiter`, when given, tells
    // whether every cell is a delimiter cell.
    // The cells of a row of up to `short_row` cells are kept in `keep`, so that it is not split again as it
    // is written (5% of the instructions of the realistic report, 7% of a 100 KB answer).
    Row row_of(const Line& line, Piece* keep, bool* delimiter = nullptr) const {
        const Piece p = piece(line, line.b, line.e);
        Row row{p, nullptr, line.pipe ? match_pipe_row(p, p_, delimiter, keep, short_row) : 0, nullptr};
        if (row.width <= short_row) row.cells = keep;
        return row;
    }
    void table_row(const Row& row) {
        group_table_row(out_, [&] { return std::optional<Row>(row); }, false, Piece{});
    }

    // A pipe table from `header`: a header row, a delimiter row, then body rows up to a blank line, a line
    // that is no row, or another delimiter row. Returns where the walk goes on, or -1 when there is no table.
    Py_ssize_t table(const Line& header) {
        bool delimiter_cells = false;
        // A header may wait for the next table to tell whether it is a lone row: the two take turns.
        Piece* header_cells = cells_[2 + tables_ % 2];
        const Row head = row_of(header, header_cells);
        if (!head.width || header.next > end_) return -1;
        const Line delimiter = line_at(header.next);
        if (!delimiter.pipe || !row_of(delimiter, cells_[0], &delimiter_cells).width || !delimiter_cells) return -1;
        flush_paragraph();
        ++tables_;
        table_row(head);
        Py_ssize_t pos = delimiter.next;
        std::size_t rows = 0;
        while (pos <= end_) {
            const Line line = line_at(pos);
            interrupts_.tick(line.next - line.b);
            if (skip_space(p_, line.b, line.e) == line.e) break;
            const Row row = row_of(line, cells_[rows++ % 2], &delimiter_cells);  // the row before is written
            if (!row.width || delimiter_cells) break;
            table_row(row);
            pos = line.next;
        }
        return pos;
    }

    // A paragraph line. A continuation of a list item may come between two lines of a paragraph, which is then
    // kept as more than one run of lines.
    void buffer(const Line& line) {
        // Each line is a run of its own, so that it is written without being looked for again, up to a bound;
        // past it, runs of lines keep the walk's memory bounded whatever the paragraph's length.
        if (paragraph_.size() >= single_lines && paragraph_.back().next == line.b) {
            Run& run = paragraph_.back();
            run.e = line.e;
            run.next = line.next;
            run.lines = true;
        } else {
            paragraph_.push_back({line.b, line.e, line.next, false, line.odd});
        }
    }

    // The paragraph's lines, each right-stripped, joined with "\n" and stripped as a whole; nothing when that
    // leaves no text. The lines of a run of several are found again as it is written.
    [[gnu::always_inline]] void flush_paragraph() {
        if (!paragraph_.empty()) write_paragraph();
    }
    [[gnu::noinline]] void write_paragraph() {
        std::size_t first = 0, last = paragraph_.size();
        Py_ssize_t b = 0, e = 0;
        for (; first < last; ++first) {
            b = skip_space(p_, paragraph_[first].b, paragraph_[first].e);
            if (b < paragraph_[first].e) break;
        }
        for (; last > first; --last) {
            const Py_ssize_t from = last - 1 == first ? b : paragraph_[last - 1].b;
            e = trim_space(p_, from, paragraph_[last - 1].e);
            if (e > from) break;
        }
        if (first < last) {
            group_text(out_, [&](auto& w) {
                for (std::size_t k = first; k < last; ++k) {
                    if (k > first) w.next();
                    const Run& run = paragraph_[k];
                    const Py_ssize_t from = k == first ? b : run.b, to = k + 1 == last ? e : run.e;
                    if (run.lines) write_lines(w, from, to);
                    else w.put(piece({from, to, run.next, false, run.odd}, from, trim_space(p_, from, to)));
                }
            });
            last_ = Kind::text;
        }
        paragraph_.clear();
    }

    // The lines of [b, e), each right-stripped, one after another.
    template <class W>
    void write_lines(W& w, Py_ssize_t b, Py_ssize_t e) {
        for (Py_ssize_t pos = b;;) {
            const Line line = line_at(pos);
            w.put(piece(line, pos, trim_space(p_, pos, std::min(line.e, e))));
            interrupts_.tick(line.next - pos);
            if (line.e >= e) return;
            w.next();
            pos = line.next;
        }
    }

    Sink& out_;
    const Piece text_;
    const T* p_;
    const Py_ssize_t begin_, end_;
    Interrupts& interrupts_;
    bool in_fence_ = false;
    Kind last_ = Kind::none;
    // The paragraph being read, as runs of consecutive lines.
    std::vector<Run> paragraph_;
    static constexpr std::size_t single_lines = 64, short_row = 8;
    Piece cells_[4][short_row];  // a body row and the one before it; two headers
    std::size_t tables_ = 0;
};

}  // namespace

template <class Out>
void write_text(BlockLines<Out>& out, const Piece& text, Interrupts& interrupts) {
    with_chars(text, [&](const auto* p) {
        Walk<std::remove_cvref_t<decltype(*p)>, BlockLines<Out>>(out, text, p, interrupts).run();
    });
}

template void write_text(BlockLines<Py_UCS1>&, const Piece&, Interrupts&);
template void write_text(BlockLines<Py_UCS2>&, const Piece&, Interrupts&);
template void write_text(BlockLines<Py_UCS4>&, const Piece&, Interrupts&);

}  // namespace rundown::fast
