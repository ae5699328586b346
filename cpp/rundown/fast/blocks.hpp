// The display blocks of an answer: its structured blocks, kept as slices until the section is written, and
// the walk that writes its Markdown-like text straight into report lines. Both are grouped into lists and
// tables by the one block writer of render.hpp.
#pragma once

#include "rundown/fast/render.hpp"

#include <vector>

namespace rundown::fast {

/// The display blocks of an answer's structured blocks, kept as the calls that made them, so that they are
/// grouped and written by the same writer as a walked text when the section is written.
class Assembly {
public:
    void heading(Piece text, int level) { steps_.push_back({Op::heading, level, text, {}, 0, false}); }
    void text(Piece text) { steps_.push_back({Op::text, 0, text, {}, 0, false}); }
    void list_item(Piece text) { steps_.push_back({Op::list_item, 0, text, {}, 0, false}); }
    /// A row whose cells are read again when it is written.
    void table_row(const Row& row) { steps_.push_back({Op::table_row, 0, {}, row, 0, false}); }
    /// A narrow row of `width` cells, kept here: each is given by `cell()` right after.
    void table_row_of(std::size_t width) {
        steps_.push_back({Op::table_row, 0, {}, {{}, nullptr, width, nullptr}, cells_.size(), true});
    }
    void cell(const Piece& p) { cells_.push_back(p); }
    /// Ends a pending list: the next item starts another one.
    void flush_list();
    void clear() noexcept {
        steps_.clear();
        cells_.clear();
    }

    /// Whether there is no block.
    bool empty() const noexcept { return steps_.empty(); }
    /// Whether writing gives at least one line.
    bool renders() const;
    /// The body lines, blocks separated by an empty line.
    template <class Out>
    void render(Writer<Out>& out) const;

private:
    enum class Op : unsigned char { heading, text, list_item, table_row, end_list };
    struct Step {
        Op op;
        int level;
        Piece piece;
        Row row;
        std::size_t first;  // a kept row's cells, from cells_[first]
        bool kept;
    };
    Row row_of(const Step& s) const noexcept {
        Row row = s.row;
        if (s.kept) row.cells = cells_.data() + s.first;
        return row;
    }

    std::vector<Step> steps_;
    std::vector<Piece> cells_;
};

/// A run of consecutive paragraph lines of a text: from the start of its first line to the end of its last,
/// and where the line after it starts.
struct ParagraphRun {
    Py_ssize_t b, e, next;
    bool lines;  // more than one line: their ends are found again when it is written
    bool odd;    // the one line holds line boundaries other than "\r" and "\n"
};

/// The Markdown-like answer text, walked line by line and written straight into report lines, grouped and
/// rendered as an assembly of its blocks would be: a stripped, non-empty text always gives a line at least.
/// `paragraph` is room for the paragraph being read, which one report lends to all its walks.
template <class Out>
void write_text(Writer<Out>& lines, Piece text, std::vector<ParagraphRun>& paragraph);

}  // namespace rundown::fast
