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

    normalize_text_lines = intern("_normalize_text_lines");
    parse_markdown_heading = intern("_parse_markdown_heading");
    parse_markdown_list_item = intern("_parse_markdown_list_item");
    parse_markdown_table = intern("_parse_markdown_table");
    parse_pipe_row = intern("_parse_pipe_row");
    is_markdown_delimiter_row = intern("_is_markdown_delimiter_row");
    build_answer_blocks = intern("_build_answer_blocks");
    build_structured_answer_blocks = intern("_build_structured_answer_blocks");
    normalize_structured_row = intern("_normalize_structured_row");
    normalize_row_cells = intern("_normalize_row_cells");
    format_answer_body = intern("_format_answer_body");
    format_product_links = intern("_format_product_links");
    format_recommended_asins = intern("_format_recommended_asins");
    format_link_items = intern("_format_link_items");
    extract_questions = intern("_extract_questions");
    normalize_question_list = intern("_normalize_question_list");
    question_at = intern("_question_at");
    format_section = intern("_format_section");
    collapse_blank_lines = intern("_collapse_blank_lines");
    to_structured_blocks = intern("_to_structured_blocks");
    render_blocks = intern("_render_blocks");
    build_text_fallback_blocks = intern("_build_text_fallback_blocks");

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

    answers = intern("answers");
    questions = intern("questions");
    upload_payload = intern("upload_payload");
    records = intern("records");
    question = intern("question");
    product_links_key = intern("productLinks");
    recommended_asins_key = intern("recommendedAsins");
    summary_text_key = intern("summaryText");
    is_success_key = intern("isSuccess");
    blocks_key = intern("blocks");
    asin = intern("asin");
    title = intern("title");
    href = intern("href");
    source = intern("source");
    description = intern("description");
    Ref include_source = intern("include_source");
    include_source_kwnames = pyhost::check(pyhost::api([&] { return PyTuple_Pack(1, include_source.get()); }));

    empty = intern("");
    newline = intern("\n");
    space = intern(" ");
    cell_sep = intern(" | ");
    row_open = intern("| ");
    row_close = intern(" |");
    delimiter_cell = intern("---");
    fence = intern("```");
    list_marker = intern("- ");
    crlf = intern("\r\n");
    cr = intern("\r");
    hash = intern("#");
    section_sep = intern("\n\n");
    label_sep = intern(" - ");
    indent = intern("  ");
    paren_open = intern(" (");
    paren_close = intern(")");
    open_paren = intern("(");
    heading_open = str_from("## 第 ");
    heading_colon = str_from(" 题：");
    fallback_open = str_from("第 ");
    fallback_close = str_from(" 题");
    missing_answer_close = str_from(" 题未获取到答案");
    products_heading = str_from("### 相关产品");
    answer_heading = str_from("### 答案");
    asins_heading = str_from("### 推荐 ASIN");
    summary_heading = str_from("### 总结");
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
