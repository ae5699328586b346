// The display blocks of an answer: its structured blocks, kept as slices until the section is written, and
// the walk that writes its Markdown-like text straight into report lines. Both are grouped into lists and
// tables by the one block writer of render.hpp.
#pragma once

#include "rundown/fast/text.hpp"

#include <vector>

namespace rundown::fast {

template <class Out>
class Writer;

/// The display blocks of an answer's structured blocks, kept as the calls that made them, so that they are
/// grouped and written by the same writer as a walked text when the section is written.
class Assembly {
public:
    void heading(Piece text, int level);
    void text(const Piece* parts, std::size_t n);
    void list_item(Piece text);
    void table_row(const Piece* cells, std::size_t n);
    /// Ends a pending list: the next item starts another one.
    void flush_list();
    void clear() noexcept;

    /// Whether there is no block.
    bool empty() const noexcept { return steps_.empty(); }
    /// Whether writing gives at least one line.
    bool renders() const noexcept;
    /// The body lines, blocks separated by an empty line; `header` is working space.
    template <class Out>
    void render(Writer<Out>& out, std::vector<Piece>& header) const;

    /// Working space of the row reader, kept with the assembly so that it is allocated once.
    std::vector<Piece> scratch_cells;

private:
    enum class Op : unsigned char { heading, text, list_item, table_row, end_list };
    /// A call, with its pieces [first, last).
    struct Step {
        Op op;
        int level;
        std::size_t first, last;
    };
    void add(Op op, int level, const Piece* pieces, std::size_t n);

    std::vector<Piece> pieces_;
    std::vector<Step> steps_;
};

/// The working space of a text walk: the lines of a paragraph, the cells of the row being read, and a
/// table's header.
struct WalkSpace {
    std::vector<Piece> lines, cells, header;
};

/// The Markdown-like answer text, walked line by line and written straight into report lines, grouped and
/// rendered as an assembly of its blocks would be: a stripped, non-empty text always gives a line at least.
template <class Out>
void write_text(Writer<Out>& lines, Piece text, WalkSpace& space);

}  // namespace rundown::fast
