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

/// The text of a value: `str()` of a truthy value, else "", then stripped.
inline Ref text_of(const State& st, Obj value) {
    return pyhost::call_method(pyhost::truthy(value) ? pyhost::str(value) : st.empty, st.strip);
}

/// A new dict {k1: v1, k2: v2}, keys in that order.
inline Ref dict2(Obj k1, Obj v1, Obj k2, Obj v2) {
    Ref d = pyhost::new_dict();
    pyhost::set_item(d, k1, v1);
    pyhost::set_item(d, k2, v2);
    return d;
}

// Markdown line parsers.
Ref parse_markdown_heading(const Call& c);
Ref parse_markdown_list_item(const Call& c);
Ref parse_markdown_table(const Call& c);
Ref is_markdown_delimiter_row(const Call& c);

// Text fallback walk.
Ref normalize_text_lines(const Call& c);
Ref build_text_fallback_blocks(const Call& c);

// Block conversion and rendering.
Ref to_structured_blocks(const Call& c);
Ref render_blocks(const Call& c);
Ref collapse_blank_lines(const Call& c);

// Structured block assembly.
Ref build_answer_blocks(const Call& c);
Ref build_structured_answer_blocks(const Call& c);
Ref normalize_structured_row(const Call& c);
Ref normalize_row_cells(const Call& c);

// Answer body and link lists.
Ref format_answer_body(const Call& c);
Ref format_product_links(const Call& c);
Ref format_recommended_asins(const Call& c);
Ref format_link_items(const Call& c);

// Report assembly.
Ref format_data(const Call& c);
Ref extract_questions(const Call& c);
Ref normalize_question_list(const Call& c);
Ref question_at(const Call& c);
Ref format_section(const Call& c);

}  // namespace rundown::generic
