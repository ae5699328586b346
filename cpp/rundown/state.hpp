// Per-module state of rundown_writer: the interned names, keys, literals and patterns the methods use.
#pragma once

#include "pyhost/ops.hpp"

namespace rundown {

using pyhost::Ref;

struct State {
    // Names of host methods and attributes.
    Ref re, match, group, get, strip, rstrip, startswith, replace, split;
    // Steps of RundownWriter, called through the instance.
    Ref normalize_text_lines, parse_markdown_heading, parse_markdown_list_item, parse_markdown_table, parse_pipe_row,
        is_markdown_delimiter_row;
    // Block keys and kind/type values.
    Ref kind, type, text, level, header, rows, cells, items;
    Ref heading, list_item, table, table_row, paragraph, list;
    // Literals.
    Ref empty, newline, space, pipe, cell_sep, row_open, row_close, dash, delimiter_cell, fence, list_marker, crlf, cr,
        hash;
    Ref zero, one, two;
    // The line patterns.
    Ref heading_pattern, bullet_pattern, ordered_pattern, delimiter_pattern, indent_pattern;

    void init();
};

}  // namespace rundown
