// The constants of rundown_writer, created once when the module executes.
#include "rundown/state.hpp"

namespace rundown {

using pyhost::intern;
using pyhost::integer;
using pyhost::str_from;

void State::init() {
    re = intern("re");
    match = intern("match");
    group = intern("group");
    get = intern("get");
    strip = intern("strip");
    rstrip = intern("rstrip");
    startswith = intern("startswith");
    replace = intern("replace");
    split = intern("split");

    normalize_text_lines = intern("_normalize_text_lines");
    parse_markdown_heading = intern("_parse_markdown_heading");
    parse_markdown_list_item = intern("_parse_markdown_list_item");
    parse_markdown_table = intern("_parse_markdown_table");
    parse_pipe_row = intern("_parse_pipe_row");
    is_markdown_delimiter_row = intern("_is_markdown_delimiter_row");

    kind = intern("kind");
    type = intern("type");
    text = intern("text");
    level = intern("level");
    header = intern("header");
    rows = intern("rows");
    cells = intern("cells");
    items = intern("items");
    heading = intern("heading");
    list_item = intern("list_item");
    table = intern("table");
    table_row = intern("table_row");
    paragraph = intern("paragraph");
    list = intern("list");

    empty = intern("");
    newline = intern("\n");
    space = intern(" ");
    pipe = intern("|");
    cell_sep = intern(" | ");
    row_open = intern("| ");
    row_close = intern(" |");
    dash = intern("-");
    delimiter_cell = intern("---");
    fence = intern("```");
    list_marker = intern("- ");
    crlf = intern("\r\n");
    cr = intern("\r");
    hash = intern("#");
    zero = integer(0);
    one = integer(1);
    two = integer(2);

    heading_pattern = str_from(R"re(^(#{1,6})\s+(.*)$)re");
    bullet_pattern = str_from(R"re(^([-*•])\s+(.*)$)re");
    ordered_pattern = str_from(R"re(^\d+[.)]\s+(.*)$)re");
    delimiter_pattern = str_from(R"re(^:?-{3,}:?$)re");
    indent_pattern = str_from(R"re(^\s+)re");
}

}  // namespace rundown
