// Per-module state of rundown_writer: the interned names, keys, literals and patterns the methods use, each
// list written once and interned from it when the module executes.
#pragma once

#include "pyhost/function.hpp"
#include "pyhost/ops.hpp"
#include "rundown/names.hpp"

#include <span>
#include <vector>

namespace rundown {

using pyhost::Ref;

// Names of host methods and modules, block keys and kinds, and texts that only the generic path uses.
#define RUNDOWN_INTERNED(X)                                                                                   \
    X(re, "re") X(match, "match") X(group, "group") X(get, "get") X(strip, "strip") X(rstrip, "rstrip")        \
    X(startswith, "startswith") X(kind, "kind") X(header, "header") X(rows, "rows") X(items, "items")         \
    X(heading, "heading") X(list_item, "list_item") X(table, "table") X(table_row, "table_row")              \
    X(paragraph, "paragraph") X(list, "list") X(empty, "") X(newline, "\n")                           \
    X(fence, "```") X(section_sep, "\n\n") X(include_source, "include_source")

// The steps of RundownWriter that the generic path calls through the instance: `_` and the name.
#define RUNDOWN_STEPS(X)                                                                                      \
    X(normalize_text_lines) X(parse_markdown_heading) X(parse_markdown_list_item) X(parse_markdown_table)     \
    X(parse_pipe_row) X(is_markdown_delimiter_row) X(build_answer_blocks) X(build_structured_answer_blocks)  \
    X(normalize_structured_row) X(normalize_row_cells) X(format_answer_body) X(format_product_links)         \
    X(format_recommended_asins) X(format_link_items) X(extract_questions) X(normalize_question_list)          \
    X(question_at) X(format_section) X(collapse_blank_lines) X(to_structured_blocks) X(render_blocks)        \
    X(build_text_fallback_blocks)

// The line patterns, matched with the module's `re` on the generic path.
#define RUNDOWN_PATTERNS(X)                                                                                   \
    X(heading_pattern, R"re(^(#{1,6})\s+(.*)$)re") X(bullet_pattern, R"re(^([-*•])\s+(.*)$)re")                \
    X(ordered_pattern, R"re(^\d+[.)]\s+(.*)$)re") X(delimiter_pattern, R"re(^:?-{3,}:?$)re")                   \
    X(indent_pattern, R"re(^\s+)re")

struct State {
#define RUNDOWN_MEMBER(id, ...) Ref id;
    RUNDOWN_INTERNED(RUNDOWN_MEMBER)
    RUNDOWN_STEPS(RUNDOWN_MEMBER)
    RUNDOWN_PATTERNS(RUNDOWN_MEMBER)
#undef RUNDOWN_MEMBER
    Ref fields[field_count];               // the record's keys, by Field
    Ref literals[int(Lit::count)];         // the report's literals, by Lit
    Ref one, two;
    Ref include_source_kwnames;  // ("include_source",)

    // What the native report's guard compares against: the method type, the steps the report reaches
    // (every method but format_data) with their names, and the `re` module and `re.match` of the import.
    Ref function_type, re_module, re_match;
    std::span<const pyhost::MethodSpec> steps;
    std::vector<Ref> step_names;

    const Ref& key(Field f) const noexcept { return fields[f]; }
    const Ref& lit(Lit l) const noexcept { return literals[static_cast<int>(l)]; }
    void init();
};

}  // namespace rundown
