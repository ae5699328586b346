// Display blocks of an answer's structured blocks as C++ structs over slices, and their assembly: list items
// gathered into one list, table rows into one table (a lone row becomes text), everything else flushing what
// is pending. An answer's text is walked straight into report lines with the same grouping.
#pragma once

#include "rundown/fast/text.hpp"

#include <vector>

namespace rundown::fast {

template <class Out>
class Writer;

/// A run [first, last) of pieces: the cells of a row, or the parts of a list item.
struct Group {
    std::size_t first, last;
};

enum class BlockType : unsigned char {
    heading,  ///< pieces[first], with `level`
    text,     ///< pieces [first, last) joined with "\n"
    row,      ///< a lone table row, groups[first]: its cells joined with " | ", then stripped
    list,     ///< groups [first, last), one per item; an item's parts are joined with " "
    table,    ///< groups [first, last): the header, then the rows, squared to the header's width
};

struct Block {
    BlockType type;
    int level;
    std::size_t first, last;
};

class Assembly {
public:
    void heading(Piece text, int level);
    void text(const Piece* parts, std::size_t n);
    void list_item(Piece text);
    void table_row(const Piece* cells, std::size_t n);
    void flush_list();
    void finish();
    void clear();

    bool empty() const noexcept { return blocks_.empty(); }

    /// Working space of the row reader, kept with the assembly so that it is allocated once.
    std::vector<Piece> scratch_cells;
    /// Whether rendering gives at least one line.
    bool renders() const noexcept;
    /// The body lines, blocks separated by an empty line.
    template <class Out>
    void render(Writer<Out>& out) const;

private:
    void flush_table();
    bool block_renders(const Block& b) const noexcept;

    static constexpr std::size_t none = static_cast<std::size_t>(-1);
    std::vector<Piece> pieces_;
    std::vector<Group> groups_;
    std::vector<Block> blocks_;
    std::size_t list_first_ = none;   // first group of the pending list items
    std::size_t table_first_ = none;  // first group of the pending table rows
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
