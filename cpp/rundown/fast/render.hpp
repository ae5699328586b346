// The report lines of display blocks, one construct at a time: shared by the block renderer and by the text
// walk that writes an answer's text straight into the output.
#pragma once

#include "rundown/fast/output.hpp"

#include <algorithm>

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
    for (std::size_t k = 0; k < width; ++k) out.word(" | ---" + (k == 0 ? 3 : 0), k == 0 ? 3 : 6);
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

}  // namespace rundown::fast
