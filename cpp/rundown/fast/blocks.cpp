// The assembly of structured blocks: the calls kept with their pieces, and whether they write anything.
#include "rundown/fast/blocks.hpp"

namespace rundown::fast {

void Assembly::flush_list() {
    // Only a pending list has anything to end; kept so, the assembly is empty exactly when it has no block.
    if (!steps_.empty() && steps_.back().op == Op::list_item) steps_.push_back({Op::end_list, 0, {}, {}, 0, false});
}

bool Assembly::renders() const {
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
    return rows >= 2 || (rows == 1 && lone_row_renders(row_of(*row)));
}

template <class Out>
void Assembly::render(Writer<Out>& lines) const {
    BlockLines<Out> out(lines);
    for (const Step& s : steps_) {
        switch (s.op) {
            case Op::heading: out.heading(s.piece, s.level); break;
            case Op::text: out.text([&](Writer<Out>& w) { w.put(s.piece); }); break;
            case Op::list_item: out.list_item(s.piece); break;
            case Op::table_row: out.table_row(row_of(s)); break;
            case Op::end_list: out.flush_list(); break;
        }
    }
    out.finish();
}

template void Assembly::render(Writer<Py_UCS1>&) const;
template void Assembly::render(Writer<Py_UCS2>&) const;
template void Assembly::render(Writer<Py_UCS4>&) const;

}  // namespace rundown::fast
