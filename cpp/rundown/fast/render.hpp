// The report lines of display blocks: each construct's lines, and the writer that groups blocks into lists
// and tables as they come. The text walk writes through it, and an assembly of structured blocks is replayed
// into it.
#pragma once

#include "rundown/fast/match.hpp"
#include "rundown/fast/output.hpp"
#include "rundown/rules.hpp"

#include <charconv>

namespace rundown::fast {

/// A table row whose cells are read when they are written, so that a wide row is never copied: a pipe row of
/// a line, or the list of cells of a structured row (an exact list of plain values, checked when it was read).
struct Row {
    Piece line;
    PyObject* list = nullptr;  // borrowed: no Python code runs between the reading of a section and its writing
    std::size_t width = 0;     // its number of cells
    const Piece* cells = nullptr;  // a narrow row's cells, split or read already, while their holder keeps them
};

/// Decimal digits of `n`, written.
template <class Out>
void write_number(Writer<Out>& out, long long n) {
    char digits[24];
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, n);
    out.word(digits, static_cast<std::size_t>(end - digits));
}

/// The stripped text of a cell value that the reader found plain, as a piece valid while `held` is: `str()` of
/// a truthy value, else nothing. Only strs are made, which the collector does not track. Out of line: only rows
/// too wide to be kept come here.
[[gnu::noinline]] inline Piece cell_text(PyObject* v, pyhost::Ref& held) {
    if (PyUnicode_Check(v)) return strip(Piece::of(v));
    if (!pyhost::truthy(v)) return {};
    held = pyhost::str(v);
    return strip(Piece::of(held.get()));
}

/// Calls `f(cell)` for each cell of `row`.
template <class F>
void for_each_cell(const Row& row, F&& f) {
    if (row.cells) {
        for (std::size_t i = 0; i < row.width; ++i) f(row.cells[i]);
        return;
    }
    if (!row.list) return with_chars(row.line, [&](const auto* p) { pipe_cells(row.line, p, f); });
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(row.list); ++i) {
        pyhost::Ref held;
        f(cell_text(PyList_GET_ITEM(row.list, i), held));
    }
}

/// A heading: as many marks as its level and two (at most six), a blank, its text.
template <class Out>
void heading_line(Writer<Out>& lines, int level, const Piece& text) {
    Writer<Out>& out = lines.next();
    const auto marks = static_cast<std::size_t>(heading_marks(level));
    out.word("###### " + (6 - marks), marks + 1);
    out.put(text);
}

/// A list item: "- ", then its text.
template <class Out>
void list_line(Writer<Out>& lines, const Piece& text) {
    Writer<Out>& out = lines.next();
    out.word("- ", 2);
    out.put(text);
}

/// A table row, padded with empty cells to `width`.
template <class Out>
void table_line(Writer<Out>& lines, const Row& row, std::size_t width) {
    Writer<Out>& out = lines.next();
    out.word("| ", 2);
    std::size_t k = 0;
    for_each_cell(row, [&](const Piece& cell) {
        if (k++ > 0) out.word(" | ", 3);
        out.put(cell);
    });
    for (; k < width; ++k) out.word(" | ", 3);
    out.word(" |", 2);
}

/// The "---" row under a table's header of `width` cells.
template <class Out>
void delimiter_line(Writer<Out>& lines, std::size_t width) {
    Writer<Out>& out = lines.next();
    out.word("| ", 2);
    if (width > 0) out.word("---", 3);
    for (std::size_t k = 1; k < width; ++k) out.word(" | ---", 6);
    out.word(" |", 2);
}

/// A table row without a table: its cells joined with " | ", stripped. An empty first cell leaves "|" at the
/// start; the blank after an empty last cell is trailing whitespace that the tidy-up cuts.
template <class Out>
void lone_row_line(Writer<Out>& lines, const Row& row) {
    Writer<Out>& out = lines.next();
    std::size_t k = 0;
    bool first_empty = false;
    for_each_cell(row, [&](const Piece& cell) {
        if (k == 0) first_empty = cell.empty();
        if (k == 1 && first_empty) out.word("| ", 2);
        else if (k > 0) out.word(" | ", 3);
        out.put(cell);
        ++k;
    });
}

/// Whether a lone row gives a line: unless it is a single empty cell (with two cells the separator shows).
inline bool lone_row_renders(const Row& row) {
    if (row.width != 1) return row.width >= 2;
    bool empty = true;
    for_each_cell(row, [&](const Piece& cell) { empty = cell.empty(); });
    return !empty;
}

/// Writes display blocks as report lines as soon as each is complete, grouping them as it goes: list items
/// into one list, table rows into one table (a table of a header alone is a lone row), everything else
/// ending what is pending, one empty line between blocks.
template <class Out>
class BlockLines {
public:
    explicit BlockLines(Writer<Out>& lines) noexcept : lines_(lines) {}

    void heading(Piece text, int level) {
        finish();
        block();
        heading_line(lines_, level, text);
    }
    /// A paragraph, whose lines `write(out)` writes into the line begun for it.
    template <class F>
    void text(F&& write) {
        finish();
        block();
        write(lines_.next());
    }
    void list_item(Piece text) {
        flush_table();
        if (!list_) block();
        list_ = true;
        list_line(lines_, text);
    }
    /// Ends the pending list: the next item starts another one.
    void flush_list() noexcept { list_ = false; }
    /// Continues the item written last, which is still the line being written.
    void extend_item(Piece part) {
        lines_.word(" ", 1);
        lines_.put(part);
    }
    void table_row(const Row& row) {
        flush_list();
        if (rows_++ == 0) {  // the header waits: alone, it is a lone row rather than a table
            header_ = row;
            return;
        }
        if (rows_ == 2) {
            block();
            table_line(lines_, header_, header_.width);
            delimiter_line(lines_, header_.width);
        }
        table_line(lines_, row, header_.width);
    }
    /// Ends what is pending: called after the last block.
    void finish() {
        flush_list();
        flush_table();
    }

private:
    TAVIK_INLINE void block() {
        if (any_) lines_.next();
        any_ = true;
    }
    void flush_table() {
        if (rows_ == 1 && lone_row_renders(header_)) {
            block();
            lone_row_line(lines_, header_);
        }
        rows_ = 0;
    }

    Writer<Out>& lines_;
    Row header_;
    bool any_ = false, list_ = false;
    std::size_t rows_ = 0;
};

}  // namespace rundown::fast
