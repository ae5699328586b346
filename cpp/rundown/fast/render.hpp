// The report lines of display blocks: each construct's lines, and the writer that groups blocks into lists
// and tables as they come. The text walk writes through it, and an assembly of structured blocks is replayed
// into it.
#pragma once

#include "rundown/fast/output.hpp"

#include <algorithm>
#include <vector>

namespace rundown::fast {

/// A heading: as many marks as its level and two (at most six), a blank, its text.
template <class Out>
void heading_line(Writer<Out>& lines, int level, const Piece& text) {
    Writer<Out>& out = lines.next();
    const auto marks = static_cast<std::size_t>(std::clamp(level + 2, 1, 6));
    out.word("###### " + (6 - marks), marks + 1);
    out.put(text);
}

/// A list item: "- ", then its parts joined with " ".
template <class Out>
void list_line(Writer<Out>& lines, const Piece* parts, std::size_t n) {
    Writer<Out>& out = lines.next();
    out.word("- ", 2);
    for (std::size_t k = 0; k < n; ++k) {
        if (k > 0) out.word(" ", 1);
        out.put(parts[k]);
    }
}

/// A table row, padded with empty cells to `width`.
template <class Out>
void table_line(Writer<Out>& lines, const Piece* cells, std::size_t n, std::size_t width) {
    Writer<Out>& out = lines.next();
    out.word("| ", 2);
    for (std::size_t k = 0; k < n; ++k) {
        if (k > 0) out.word(" | ", 3);
        out.put(cells[k]);
    }
    for (std::size_t k = n; k < width; ++k) out.word(" | ", 3);
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
void lone_row_line(Writer<Out>& lines, const Piece* cells, std::size_t n) {
    Writer<Out>& out = lines.next();
    for (std::size_t k = 0; k < n; ++k) {
        if (k == 1 && cells[0].empty()) out.word("| ", 2);
        else if (k > 0) out.word(" | ", 3);
        out.put(cells[k]);
    }
}

/// Whether a lone row gives a line: unless it is a single empty cell (with two cells the separator shows).
inline bool lone_row_renders(const Piece* cells, std::size_t n) noexcept { return n >= 2 || (n == 1 && !cells[0].empty()); }

/// Writes display blocks as report lines as soon as each is complete, grouping them as it goes: list items
/// into one list, table rows into one table (a table of a header alone is a lone row), everything else
/// ending what is pending, one empty line between blocks. `header` is working space for a table's header.
template <class Out>
class BlockLines {
public:
    BlockLines(Writer<Out>& lines, std::vector<Piece>& header) : lines_(lines), header_(header) {}

    void heading(Piece text, int level) {
        finish();
        block();
        heading_line(lines_, level, text);
    }
    void text(const Piece* parts, std::size_t n) {
        finish();
        block();
        Writer<Out>& out = lines_.next();
        for (std::size_t k = 0; k < n; ++k) {
            if (k > 0) out.line_break();
            out.put(parts[k]);
        }
    }
    void list_item(Piece text) {
        flush_table();
        if (!list_) block();
        list_ = true;
        list_line(lines_, &text, 1);
    }
    /// Ends the pending list: the next item starts another one.
    void flush_list() noexcept { list_ = false; }
    /// Continues the item written last, which is still the line being written.
    void extend_item(Piece part) {
        lines_.word(" ", 1);
        lines_.put(part);
    }
    void table_row(const Piece* cells, std::size_t n) {
        flush_list();
        if (rows_++ == 0) {  // the header waits: alone, it is a lone row rather than a table
            header_.assign(cells, cells + n);
            return;
        }
        if (rows_ == 2) {
            block();
            table_line(lines_, header_.data(), header_.size(), header_.size());
            delimiter_line(lines_, header_.size());
        }
        table_line(lines_, cells, n, header_.size());
    }
    /// Ends what is pending: called after the last block.
    void finish() {
        flush_list();
        flush_table();
    }

private:
    void block() {
        if (any_) lines_.next();
        any_ = true;
    }
    void flush_table() {
        if (rows_ == 1 && lone_row_renders(header_.data(), header_.size())) {
            block();
            lone_row_line(lines_, header_.data(), header_.size());
        }
        rows_ = 0;
    }

    Writer<Out>& lines_;
    std::vector<Piece>& header_;
    bool any_ = false, list_ = false;
    std::size_t rows_ = 0;
};

}  // namespace rundown::fast
