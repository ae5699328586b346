// The names and texts of the report, each written once: the keys of a run result record and the literals of
// the report. The state interns them from these lists, and the native reader recognises keys by them.
#pragma once

#include <string_view>

namespace rundown {

// The keys that the report reads from a record's dicts. The first four are a structured block's, the next
// five an answer's, so that each reads only a prefix of the list.
#define RUNDOWN_FIELDS(X)                                                                                     \
    X(type, "type") X(text, "text") X(level, "level") X(cells, "cells") X(summary_text, "summaryText")        \
    X(is_success, "isSuccess") X(blocks, "blocks") X(product_links, "productLinks")                           \
    X(recommended_asins, "recommendedAsins") X(asin, "asin") X(title, "title") X(href, "href")                \
    X(source, "source") X(description, "description") X(question, "question") X(answers, "answers")          \
    X(questions, "questions") X(upload_payload, "upload_payload") X(records, "records")

enum Field : int {
#define RUNDOWN_ENUM(id, name) f_##id,
    RUNDOWN_FIELDS(RUNDOWN_ENUM)
#undef RUNDOWN_ENUM
    field_count
};
inline constexpr Field block_fields_end = f_summary_text, answer_fields_end = f_asin;

inline constexpr std::string_view field_names[] = {
#define RUNDOWN_NAME(id, name) name,
    RUNDOWN_FIELDS(RUNDOWN_NAME)
#undef RUNDOWN_NAME
};

// The literals of the report's lines.
#define RUNDOWN_LITERALS(X)                                                                                   \
    X(heading_open, "## 第 ") X(heading_colon, " 题：") X(fallback_open, "第 ") X(fallback_close, " 题")        \
    X(missing_answer_close, " 题未获取到答案") X(products_heading, "### 相关产品")                              \
    X(answer_heading, "### 答案") X(asins_heading, "### 推荐 ASIN") X(summary_heading, "### 总结")             \
    X(list_marker, "- ") X(label_sep, " - ") X(source_after_label, " (") X(source_alone, "(")                  \
    X(source_close, ")") X(indent, "  ") X(cell_sep, " | ") X(row_open, "| ") X(row_close, " |")              \
    X(delimiter_cell, "---") X(heading_marks, "######") X(space, " ")

enum class Lit : int {
#define RUNDOWN_ENUM(id, text) id,
    RUNDOWN_LITERALS(RUNDOWN_ENUM)
#undef RUNDOWN_ENUM
    count
};

inline constexpr std::string_view literal_texts[] = {
#define RUNDOWN_TEXT(id, text) text,
    RUNDOWN_LITERALS(RUNDOWN_TEXT)
#undef RUNDOWN_TEXT
};

}  // namespace rundown
