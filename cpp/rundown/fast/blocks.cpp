// The assembly of structured blocks: the calls kept with their pieces, and whether they write anything.
#include "rundown/fast/blocks.hpp"
#include "rundown/fast/render.hpp"

namespace rundown::fast {

void Assembly::add(Op op, int level, const Piece* pieces, std::size_t n) {
    const std::size_t first = pieces_.size();
    if (n == 1) pieces_.push_back(*pieces);  // most blocks: cheaper than a range insert
    else pieces_.insert(pieces_.end(), pieces, pieces + n);
    steps_.push_back({op, level, first, pieces_.size()});
}

void Assembly::heading(Piece text, int level) { add(Op::heading, level, &text, 1); }
void Assembly::text(const Piece* parts, std::size_t n) { add(Op::text, 0, parts, n); }
void Assembly::list_item(Piece text) { add(Op::list_item, 0, &text, 1); }
void Assembly::table_row(const Piece* cells, std::size_t n) { add(Op::table_row, 0, cells, n); }

void Assembly::flush_list() {
    // Only a pending list has anything to end; kept so, the assembly is empty exactly when it has no block.
    if (!steps_.empty() && steps_.back().op == Op::list_item) steps_.push_back({Op::end_list, 0, 0, 0});
}

void Assembly::clear() noexcept {
    pieces_.clear();
    steps_.clear();
}

bool Assembly::renders() const noexcept {
    // Every block writes a line but a lone row of one empty cell; rows with nothing else between them are
    // one table.
    std::size_t rows = 0;
    const Step* row = nullptr;
    for (const Step& s : steps_) {
        if (s.op == Op::table_row) {
            ++rows;
            row = &s;
        } else if (s.op != Op::end_list) {
            return true;
        }
    }
    return rows >= 2 || (rows == 1 && lone_row_renders(pieces_.data() + row->first, row->last - row->first));
}

template <class Out>
void Assembly::render(Writer<Out>& lines, std::vector<Piece>& header) const {
    BlockLines<Out> out(lines, header);
    for (const Step& s : steps_) {
        const Piece* p = pieces_.data() + s.first;
        const std::size_t n = s.last - s.first;
        switch (s.op) {
            case Op::heading: out.heading(*p, s.level); break;
            case Op::text: out.text(p, n); break;
            case Op::list_item: out.list_item(*p); break;
            case Op::table_row: out.table_row(p, n); break;
            case Op::end_list: out.flush_list(); break;
        }
    }
    out.finish();
}

template void Assembly::render(Writer<Py_UCS1>&, std::vector<Piece>&) const;
template void Assembly::render(Writer<Py_UCS2>&, std::vector<Piece>&) const;
template void Assembly::render(Writer<Py_UCS4>&, std::vector<Piece>&) const;

}  // namespace rundown::fast
