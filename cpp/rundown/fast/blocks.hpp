// Display blocks of one answer as C++ structs over slices, and their assembly: list items gathered into one
// list, table rows into one table (a lone row becomes text), everything else flushing what is pending.
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
    /// Continues the item that was added last.
    void extend_item(Piece part);
    void table_row(const Piece* cells, std::size_t n);
    void flush_list();
    void finish();
    void clear();

    bool empty() const noexcept { return blocks_.empty(); }

    /// Working space of the walk and the row readers, kept with the assembly so that one report allocates
    /// it once rather than per answer.
    std::vector<Piece> scratch_lines, scratch_cells;
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

/// The Markdown-like answer text, walked line by line into the assembly.
void walk_text(Assembly& out, Piece text);

}  // namespace rundown::fast
