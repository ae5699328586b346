// Per-module state of rundown_writer: the interned names, keys, literals and patterns the methods use.
#pragma once

#include "pyhost/function.hpp"
#include "pyhost/ops.hpp"

#include <span>
#include <vector>

namespace rundown {

using pyhost::Ref;

struct State {
    // Names of host methods and attributes.
    Ref re, match, group, get, strip, rstrip, startswith;
    // Steps of RundownWriter, called through the instance.
    Ref normalize_text_lines, parse_markdown_heading, parse_markdown_list_item, parse_markdown_table, parse_pipe_row,
        is_markdown_delimiter_row, build_answer_blocks, build_structured_answer_blocks, normalize_structured_row,
        normalize_row_cells, format_answer_body, format_product_links, format_recommended_asins, format_link_items,
        extract_questions, normalize_question_list, question_at, format_section, collapse_blank_lines,
        to_structured_blocks, render_blocks, build_text_fallback_blocks;
    // Block keys and kind/type values.
    Ref kind, type, text, level, header, rows, cells, items;
    // Record and answer keys.
    Ref answers, questions, upload_payload, records, question, product_links_key, recommended_asins_key,
        summary_text_key, is_success_key, blocks_key, asin, title, href, source, description;
    Ref include_source_kwnames;  // ("include_source",)
    Ref heading, list_item, table, table_row, paragraph, list;
    // Literals.
    Ref empty, newline, space, cell_sep, row_open, row_close, delimiter_cell, fence, list_marker, crlf, cr,
        hash, section_sep, label_sep, indent, paren_open, paren_close, open_paren, heading_open, heading_colon,
        fallback_open, fallback_close, missing_answer_close, products_heading, answer_heading, asins_heading,
        summary_heading;
    Ref zero, one, two;
    // The line patterns.
    Ref heading_pattern, bullet_pattern, ordered_pattern, delimiter_pattern, indent_pattern;

    // What the native report's guard compares against: the method type, the steps the report reaches
    // (every method but format_data) with their names, and the `re` module and `re.match` of the import.
    Ref function_type, re_module, re_match;
    std::span<const pyhost::MethodSpec> steps;
    std::vector<Ref> step_names;

    void init();
};

}  // namespace rundown
