// Rendering of display blocks to report lines: headings with their marks, "- " list lines, pipe tables
// with their "---" row, plain text, one empty line between blocks.
#include "rundown/fast/blocks.hpp"
#include "rundown/fast/render.hpp"

namespace rundown::fast {

template <class Out>
void Assembly::render(Writer<Out>& lines) const {
    bool any = false;  // whether a line was rendered: only then does a separator come before a block
    auto cells = [&](const Group& g) { return pieces_.data() + g.first; };
    auto count = [](const Group& g) { return g.last - g.first; };
    for (const Block& b : blocks_) {
        if (b.type == BlockType::row && !block_renders(b)) continue;
        if (any) lines.next();
        any = true;
        switch (b.type) {
            case BlockType::heading:
                heading_line(lines, b.level, pieces_[b.first]);
                break;
            case BlockType::text: {
                Writer<Out>& out = lines.next();
                for (std::size_t k = b.first; k < b.last; ++k) {
                    if (k > b.first) out.line_break();
                    out.put(pieces_[k]);
                }
                break;
            }
            case BlockType::row:
                lone_row_line(lines, cells(groups_[b.first]), count(groups_[b.first]));
                break;
            case BlockType::list:
                for (std::size_t i = b.first; i < b.last; ++i) list_line(lines, cells(groups_[i]), count(groups_[i]));
                break;
            case BlockType::table: {
                const std::size_t width = count(groups_[b.first]);
                table_line(lines, cells(groups_[b.first]), width, width);
                delimiter_line(lines, width);
                for (std::size_t i = b.first + 1; i < b.last; ++i) table_line(lines, cells(groups_[i]), count(groups_[i]), width);
                break;
            }
        }
    }
}

template void Assembly::render(Writer<Py_UCS1>&) const;
template void Assembly::render(Writer<Py_UCS2>&) const;
template void Assembly::render(Writer<Py_UCS4>&) const;

}  // namespace rundown::fast
