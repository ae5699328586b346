// The text walk: an answer's Markdown-like text, line by line, into blocks grouped and written as they come.
#pragma once

#include "rundown/fast/blocks.hpp"

namespace rundown::fast {

/// Writes the display blocks of a stripped, non-empty text (which always gives a line at least), grouped as
/// an assembly of its parsed blocks would be.
template <class Out>
void write_text(BlockLines<Out>& out, const Piece& text, Interrupts& interrupts);

}  // namespace rundown::fast
