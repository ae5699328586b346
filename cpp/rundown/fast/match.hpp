// Line matchers for the Markdown constructs of an answer text, as small predicates over slices. Each gives
// what the Python code gets from `re.match` on the same stripped line (no flags: `.` stops at "\n", `$` is
// the end of the stripped line, `\s` and `\d` are Unicode-aware).
#pragma once

#include "rundown/fast/text.hpp"

#include <vector>

namespace rundown::fast {

/// `^(#{1,6})\s+(.*)$` on a stripped line, group 2 stripped and non-empty: the number of marks, else 0.
int match_heading(Piece trimmed, Piece& text) noexcept;

/// `^([-*•])\s+(.*)$`, else `^\d+[.)]\s+(.*)$`, on a stripped line, with a non-empty item text.
bool match_list_item(Piece trimmed, Piece& text) noexcept;

/// `^:?-{3,}:?$` on a stripped cell.
bool match_delimiter_cell(Piece cell) noexcept;

/// The cells of a pipe row (split on every "|", stripped, one empty cell dropped at each end, at least two,
/// one of them neither empty nor "-"), appended to `cells`; false, with `cells` unchanged, for any other line.
bool match_pipe_row(Piece line, std::vector<Piece>& cells);

/// A non-empty row whose every cell is a delimiter cell.
bool is_delimiter_row(const Piece* cells, std::size_t n) noexcept;

}  // namespace rundown::fast
