// The text walk: an answer's Markdown-like text, line by line, into display blocks. Paragraph lines are kept
// as slices of the text (runs of consecutive lines as one slice), so a long answer is never copied.
#include "rundown/fast/blocks.hpp"
#include "rundown/fast/match.hpp"

namespace rundown::fast {

namespace {

/// One line of the text: [b, e), where the next line starts (past `end` when this is the last line), and
/// whether the line holds a "|" (only such a line can be a table row).
struct Line {
    Py_ssize_t b, e, next;
    bool pipe;
};

// Lines end at "\r\n", "\r" or "\n"; a text that ends with a line break ends with an empty line.
Line line_at(const Piece& text, Py_ssize_t pos) noexcept {
    return with_chars(*text.src, [&](const auto* p) {
        Py_ssize_t j = find_cr_lf_pipe(p, pos, text.e);
        const bool pipe = j < text.e && p[j] == '|';
        if (pipe) j = find_cr_lf(p, j + 1, text.e);
        Py_ssize_t next = text.e + 1;
        if (j < text.e) next = (p[j] == '\r' && j + 1 < text.e && p[j + 1] == '\n') ? j + 2 : j + 1;
        return Line{pos, j, next, pipe};
    });
}

enum class Kind { none, text, heading, table, list_item };

class Walk {
public:
    Walk(Assembly& out, Piece text)
        : out_(out), text_(text), paragraph_(out.scratch_lines), cells_(out.scratch_cells) {
        paragraph_.clear();
    }

    void run() {
        Py_ssize_t pos = text_.b;
        while (pos <= text_.e) {
            const Line line = line_at(text_, pos);
            pos = step(line);
        }
        flush_paragraph();
    }

private:
    Piece piece(Py_ssize_t b, Py_ssize_t e) const noexcept { return {text_.src, b, e}; }

    // Returns where the walk goes on.
    Py_ssize_t step(const Line& line) {
        const Piece raw = piece(line.b, line.e);
        const Piece trimmed = strip(raw);
        if (trimmed.e - trimmed.b >= 3 && trimmed[trimmed.b] == '`' && trimmed[trimmed.b + 1] == '`' &&
            trimmed[trimmed.b + 2] == '`') {
            in_fence_ = !in_fence_;
            buffer(line);
            return line.next;
        }
        if (in_fence_) {
            buffer(line);
            return line.next;
        }
        if (trimmed.empty()) {
            flush_paragraph();
            return line.next;
        }
        Piece text;
        if (int level = match_heading(trimmed, text)) {
            flush_paragraph();
            out_.heading(text, level);
            last_ = Kind::heading;
            return line.next;
        }
        if (Py_ssize_t after = table(line); after >= 0) {
            last_ = Kind::table;
            return after;
        }
        if (match_list_item(trimmed, text)) {
            flush_paragraph();
            out_.list_item(text);
            last_ = Kind::list_item;
            return line.next;
        }
        if (is_space(raw[raw.b]) && last_ == Kind::list_item) {
            out_.extend_item(trimmed);
            return line.next;
        }
        buffer(line);
        return line.next;
    }

    // A pipe table from `header`: a header row, a delimiter row, then body rows up to a blank line, a line
    // that is no row, or another delimiter row. Returns where the walk goes on, or -1 when there is no table.
    Py_ssize_t table(const Line& header) {
        cells_.clear();
        if (!header.pipe || !match_pipe_row(piece(header.b, header.e), cells_)) return -1;
        const std::size_t header_cells = cells_.size();
        if (header.next > text_.e) return -1;
        const Line delimiter = line_at(text_, header.next);
        if (!delimiter.pipe || !match_pipe_row(piece(delimiter.b, delimiter.e), cells_) ||
            !is_delimiter_row(cells_.data() + header_cells, cells_.size() - header_cells))
            return -1;
        flush_paragraph();
        out_.table_row(cells_.data(), header_cells);
        Py_ssize_t pos = delimiter.next;
        while (pos <= text_.e) {
            const Line row = line_at(text_, pos);
            const Piece raw = piece(row.b, row.e);
            if (strip(raw).empty()) break;
            cells_.clear();
            if (!row.pipe || !match_pipe_row(raw, cells_) || is_delimiter_row(cells_.data(), cells_.size())) break;
            out_.table_row(cells_.data(), cells_.size());
            pos = row.next;
        }
        return pos;
    }

    // A paragraph line, right-stripped. Consecutive lines share one slice of the text, which holds their
    // line breaks; a line whose trailing blanks include a line boundary of another kind ends its slice, as
    // those blanks are not part of the paragraph. A blank line starts a slice, so none ends in a line break.
    void buffer(const Line& line) {
        const Piece kept = rstrip(piece(line.b, line.e));
        if (!paragraph_.empty() && extendable_ && line.b == next_line_ && !kept.empty())
            paragraph_.back().e = kept.e;
        else
            paragraph_.push_back(kept);
        extendable_ = true;
        for (Py_ssize_t i = kept.e; i < line.e && extendable_; ++i) extendable_ = !is_linebreak(text_[i]);
        next_line_ = line.next;
    }

    // The paragraph's lines joined with "\n" and stripped as a whole; nothing when that leaves no text.
    void flush_paragraph() {
        while (!paragraph_.empty()) {
            paragraph_.back() = rstrip(paragraph_.back());
            if (!paragraph_.back().empty()) break;
            paragraph_.pop_back();
        }
        std::size_t first = 0;
        while (first < paragraph_.size()) {
            paragraph_[first] = lstrip(paragraph_[first]);
            if (!paragraph_[first].empty()) break;
            ++first;
        }
        if (first < paragraph_.size()) {
            out_.text(paragraph_.data() + first, paragraph_.size() - first);
            last_ = Kind::text;
        }
        paragraph_.clear();
    }

    Assembly& out_;
    const Piece text_;
    bool in_fence_ = false;
    Kind last_ = Kind::none;
    std::vector<Piece>& paragraph_;
    bool extendable_ = false;
    Py_ssize_t next_line_ = -1;
    std::vector<Piece>& cells_;
};

}  // namespace

void walk_text(Assembly& out, Piece text) { Walk(out, text).run(); }

}  // namespace rundown::fast
