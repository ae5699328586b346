// Grouping blocks into display blocks and writing them: the grouping rules of rules.hpp applied to a sink
// that writes each display block's lines as soon as it is complete. A walked text and an answer's structured
// blocks are written through it alike.
#pragma once

#include "rundown/text/match.hpp"
#include "rundown/fast/record.hpp"

#include <concepts>
#include <optional>

namespace rundown::fast {

/// Calls `f(cell)` for each cell of `row`, stripped.
template <class F>
void for_each_cell(const Row& row, Interrupts& interrupts, F&& f) {
    auto each = [&](const Piece& cell) {
        f(cell);
        interrupts.tick(cell.e - cell.b + 1);
    };
    if (row.cells) {
        for (std::size_t i = 0; i < row.width; ++i) f(row.cells[i]);
        return;
    }
    if (!row.list) return with_chars(row.line, [&](const auto* p) { pipe_cells(row.line, p, each); });
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(row.list); ++i) {  // read again: a signal handler may change it
        pyhost::Ref made;
        each(cell_text(PyList_GET_ITEM(row.list, i), made));
    }
}

/// Whether a lone row gives a line: unless it is a single empty cell (with two cells the separator shows).
inline bool lone_row_renders(const Row& row, Interrupts& interrupts) {
    if (row.width != 1) return row.width >= 2;
    bool empty = true;
    for_each_cell(row, interrupts, [&](const Piece& cell) { empty = cell.empty(); });
    return !empty;
}

/// The groups of display blocks, written as lines: a `Group` sink of the grouping rules. Blocks are separated
/// by an empty line; a table's header waits for a second row, since alone it is a lone row.
template <class Out>
class BlockLines {
public:
    BlockLines(Writer<Out>& lines, Interrupts& interrupts) noexcept : lines_(lines), interrupts_(interrupts) {}

    void flush_list() noexcept { list_ = false; }
    void flush_table() {
        if (rows_ > 0 && !makes_table(rows_) && lone_row_renders(header_, interrupts_)) {
            block();
            lone_row_line(lines_.next(), header_);
        }
        rows_ = 0;
    }
    void heading(const Piece& text, long long level) {
        block();
        heading_line(lines_.next(), level, text);
    }
    void text(const Piece& text) {
        block();
        lines_.next().put(text);
    }
    /// A paragraph whose lines `write(line)` writes into the line begun for it.
    template <class F>
        requires std::invocable<F&, Writer<Out>&>
    void text(F&& write) {
        block();
        write(lines_.next());
    }
    void list_item(const Piece& text) {
        if (!list_) block();
        list_ = true;
        list_line(lines_, text);
    }
    /// Continues the item written last, which is still the line being written.
    void extend_item(const Piece& part) {
        lines_.lit(Lit::space);
        lines_.put(part);
    }
    void table_row(const Row& row) {
        if (rows_++ == 0) {
            header_ = row;
            return;
        }
        if (rows_ == 2) {
            block();
            table_line(header_, header_.width);
            delimiter_line(lines_.next(), header_.width);
        }
        table_line(row, header_.width);
    }

private:
    TAVIK_INLINE void block() {
        if (any_) lines_.next();
        any_ = true;
    }
    // A body row squared to the header's width: its cells (surplus ones, joined by " | ", are what merging
    // them gives), then the padding.
    void table_line(const Row& row, std::size_t width) {
        Writer<Out>& line = lines_.next();
        pipe_line(line, [&](auto&& put) {
            for_each_cell(row, interrupts_, put);
            const Squared sq = square_row(static_cast<long long>(row.width), static_cast<long long>(width));
            for (long long k = 0; k < sq.pad; ++k) put(Piece{});
        });
    }
    // A lone row: its cells joined with " | " and stripped, as a text block shows. An empty first cell leaves
    // "|" at the start; the blank after an empty last cell is trailing whitespace that the tidy-up cuts.
    void lone_row_line(Writer<Out>& line, const Row& row) {
        std::size_t k = 0;
        bool first_empty = false;
        for_each_cell(row, interrupts_, [&](const Piece& cell) {
            if (k == 0) first_empty = cell.empty();
            if (k == 1 && first_empty) line.lit(Lit::row_open);
            else if (k > 0) line.lit(Lit::cell_sep);
            line.put(cell);
            ++k;
        });
    }

    Writer<Out>& lines_;
    Interrupts& interrupts_;
    Row header_;
    bool any_ = false, list_ = false;
    std::size_t rows_ = 0;
};

/// Writes an answer's structured blocks, grouped.
template <class Out>
void write_blocks(BlockLines<Out>& g, const Section& s) {
    for (const Block& b : s.blocks) {
        switch (b.type) {
            case Block::Type::heading: group_heading(g, b.text, b.level); break;
            case Block::Type::paragraph: group_text(g, b.text); break;
            case Block::Type::list_item: group_list_item(g, b.text); break;
            default:
                group_table_row(g, [&] { return b.row.width ? std::optional<Row>(b.row) : std::nullopt; },
                                !b.text.empty(), b.text);
        }
    }
    group_end(g);
}

/// Whether an answer's structured blocks write a line: every block does but a table row, and rows with
/// nothing else between them are one table; a lone row writes nothing when it is a single empty cell.
inline bool blocks_render(const Section& s, Interrupts& interrupts) {
    std::size_t rows = 0;
    Row row;
    for (const Block& b : s.blocks) {
        if (b.type != Block::Type::table_row || (!b.row.width && !b.text.empty())) return true;
        if (b.row.width) ++rows, row = b.row;
    }
    return makes_table(rows) || (rows == 1 && lone_row_renders(row, interrupts));
}

}  // namespace rundown::fast
