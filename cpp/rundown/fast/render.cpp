// Rendering of display blocks to report lines: headings with their marks, "- " list lines, pipe tables
// with their "---" row, plain text, one empty line between blocks.
#include "rundown/fast/blocks.hpp"
#include "rundown/fast/output.hpp"

#include <algorithm>

namespace rundown::fast {

template <class Out>
void Assembly::render(Writer<Out>& lines) const {
    bool any = false;  // whether a line was rendered: only then does a separator come before a block
    auto joined = [&](Writer<Out>& out, const Group& g, const char* sep, std::size_t n) {
        for (std::size_t k = g.first; k < g.last; ++k) {
            if (k > g.first) out.word(sep, n);
            out.put(pieces_[k]);
        }
    };
    auto table_line = [&](const Group& g, std::size_t width) {
        Writer<Out>& out = lines.next();
        out.word("| ", 2);
        joined(out, g, " | ", 3);
        for (std::size_t k = g.last - g.first; k < width; ++k) out.word(" | ", 3);  // padded with empty cells
        out.word(" |", 2);
    };
    for (const Block& b : blocks_) {
        if (any) lines.next();
        switch (b.type) {
            case BlockType::heading: {
                Writer<Out>& out = lines.next();
                const auto marks = static_cast<std::size_t>(std::clamp(b.level + 2, 1, 6));
                out.word("###### " + (6 - marks), marks + 1);  // that many marks and a blank
                out.put(pieces_[b.first]);
                any = true;
                break;
            }
            case BlockType::text: {
                Writer<Out>& out = lines.next();
                for (std::size_t k = b.first; k < b.last; ++k) {
                    if (k > b.first) out.line_break();
                    out.put(pieces_[k]);
                }
                any = true;
                break;
            }
            case BlockType::row: {
                if (!block_renders(b)) break;
                const Group& g = groups_[b.first];
                Writer<Out>& out = lines.next();
                // The cells joined with " | ", stripped: an empty first cell leaves "|" at the start, and the
                // blank after an empty last cell is trailing whitespace that the tidy-up cuts.
                for (std::size_t k = g.first; k < g.last; ++k) {
                    if (k > g.first) {
                        if (k == g.first + 1 && pieces_[g.first].empty()) out.word("| ", 2);
                        else out.word(" | ", 3);
                    }
                    out.put(pieces_[k]);
                }
                any = true;
                break;
            }
            case BlockType::list:
                for (std::size_t i = b.first; i < b.last; ++i) {
                    Writer<Out>& out = lines.next();
                    out.word("- ", 2);
                    joined(out, groups_[i], " ", 1);
                }
                any = true;
                break;
            case BlockType::table: {
                const Group& header = groups_[b.first];
                const std::size_t width = header.last - header.first;
                table_line(header, width);
                Writer<Out>& out = lines.next();
                out.word("| ", 2);
                for (std::size_t k = 0; k < width; ++k) out.word(" | ---" + (k == 0 ? 3 : 0), k == 0 ? 3 : 6);
                out.word(" |", 2);
                for (std::size_t i = b.first + 1; i < b.last; ++i) table_line(groups_[i], width);
                any = true;
                break;
            }
        }
    }
}

template void Assembly::render(Writer<Py_UCS1>&) const;
template void Assembly::render(Writer<Py_UCS2>&) const;
template void Assembly::render(Writer<Py_UCS4>&) const;

}  // namespace rundown::fast
