// Assembly of display blocks: the same grouping whether the blocks come from the answer's structured
// blocks or from its parsed text.
#include "rundown/fast/blocks.hpp"
#include "rundown/fast/render.hpp"

namespace rundown::fast {

void Assembly::flush_list() {
    if (list_first_ == none) return;
    blocks_.push_back({BlockType::list, 0, list_first_, groups_.size()});
    list_first_ = none;
}

void Assembly::flush_table() {
    if (table_first_ == none) return;
    const std::size_t n = groups_.size() - table_first_;
    blocks_.push_back({n < 2 ? BlockType::row : BlockType::table, 0, table_first_, groups_.size()});
    table_first_ = none;
}

void Assembly::heading(Piece text, int level) {
    flush_list();
    flush_table();
    pieces_.push_back(text);
    blocks_.push_back({BlockType::heading, level, pieces_.size() - 1, pieces_.size()});
}

void Assembly::text(const Piece* parts, std::size_t n) {
    flush_list();
    flush_table();
    const std::size_t first = pieces_.size();
    pieces_.insert(pieces_.end(), parts, parts + n);
    blocks_.push_back({BlockType::text, 0, first, pieces_.size()});
}

void Assembly::list_item(Piece text) {
    flush_table();
    if (list_first_ == none) list_first_ = groups_.size();
    pieces_.push_back(text);
    groups_.push_back({pieces_.size() - 1, pieces_.size()});
}

void Assembly::table_row(const Piece* cells, std::size_t n) {
    flush_list();
    if (table_first_ == none) table_first_ = groups_.size();
    const std::size_t first = pieces_.size();
    pieces_.insert(pieces_.end(), cells, cells + n);
    groups_.push_back({first, pieces_.size()});
}

void Assembly::finish() {
    flush_list();
    flush_table();
}

void Assembly::clear() {
    pieces_.clear();
    groups_.clear();
    blocks_.clear();
    list_first_ = table_first_ = none;
}

bool Assembly::block_renders(const Block& b) const noexcept {
    if (b.type != BlockType::row) return true;
    const Group& g = groups_[b.first];
    return lone_row_renders(pieces_.data() + g.first, g.last - g.first);
}

bool Assembly::renders() const noexcept {
    for (const Block& b : blocks_)
        if (block_renders(b)) return true;
    return false;
}

}  // namespace rundown::fast
