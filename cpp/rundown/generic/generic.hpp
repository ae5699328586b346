// The generic path of RundownWriter: every method as a body over Python objects, each step reached
// through the instance and `re` through the module namespace, so that overrides and replacements apply.
#pragma once

#include "pyhost/function.hpp"
#include "pyhost/ops.hpp"
#include "rundown/state.hpp"

namespace rundown::generic {

using pyhost::Call;
using pyhost::Obj;
using pyhost::Ref;

/// `re.match(pattern, s)` with `re` read from the module namespace now.
inline Ref re_match(const Call& c, Obj pattern, Obj s) {
    const State& st = c.state<State>();
    return pyhost::call_method(c.global(st.re), st.match, pattern, s);
}

// Markdown line parsers.
Ref parse_markdown_heading(const Call& c);
Ref parse_markdown_list_item(const Call& c);
Ref parse_markdown_table(const Call& c);
Ref parse_pipe_row(const Call& c);
Ref is_markdown_delimiter_row(const Call& c);

// Text fallback walk.
Ref normalize_text_lines(const Call& c);
Ref build_text_fallback_blocks(const Call& c);

// Block conversion and rendering.
Ref to_structured_blocks(const Call& c);
Ref render_blocks(const Call& c);
Ref collapse_blank_lines(const Call& c);

}  // namespace rundown::generic
