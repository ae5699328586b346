// The rules of the report that both paths follow, each written once: the generic path applies them to
// Python objects, the native path to slices of strs, through the same functions.
//
// A rule writes lines through a `Lines` sink: `next()` begins the next line and returns it; a line takes
// `put(text)` (a text of the path's own kind), `lit(Lit)` (a literal of names.hpp), `word(ascii)` and
// `number(n)`; `empty(text)` tells whether a text is empty (on Python objects, its truth).
#pragma once

#include "rundown/names.hpp"

#include <algorithm>
#include <cstddef>

namespace rundown {

// -- Headings. -----------------------------------------------------------------------------------------------

/// The level of a structured heading: its int level held to 1..6. Every heading reaches the report through
/// it, a parsed text's headings (1..6 already) included.
constexpr long long heading_level(long long level) noexcept { return std::clamp(level, 1LL, 6LL); }

/// The number of "#" marks of a display heading: its level and two, held to 1..6.
constexpr int heading_marks(long long level) noexcept { return static_cast<int>(std::clamp(level, -1LL, 4LL) + 2); }

/// A display heading's line: its marks, a blank, its text.
template <class Line, class Text>
void heading_line(Line& line, long long level, const Text& text) {
    line.word(literal_texts[static_cast<int>(Lit::heading_marks)].substr(0, static_cast<std::size_t>(heading_marks(level))));
    line.lit(Lit::space);
    line.put(text);
}

// -- Lists and tables. ---------------------------------------------------------------------------------------

/// A list item's line, and a link given as a plain string: "- " and the text.
template <class Lines, class Text>
void list_line(Lines& lines, const Text& text) {
    auto& line = lines.next();
    line.lit(Lit::list_marker);
    line.put(text);
}

/// Whether pending table rows make a table: a lone row shows as its cells joined with " | ".
constexpr bool makes_table(std::size_t rows) noexcept { return rows >= 2; }

/// How a body row of `n` cells is squared to a table `width` wide (the header's length): the same row when
/// it fits; else its first `keep` cells, then, when `merge`, one cell holding the cells from `keep` on joined
/// with " | ", then `pad` empty cells. A width below 1 cuts as a Python slice `row[:width - 1]` does.
struct Squared {
    bool same, merge;
    long long keep, pad;
};
constexpr Squared square_row(long long n, long long width) noexcept {
    if (n == width) return {true, false, n, 0};
    if (n < width) return {false, false, n, width - n};
    const long long last = width - 1;
    return {false, true, last >= 0 ? last : std::max(0LL, n + last), 0};
}

/// A table line: "| ", the cells that `cells(put)` gives joined with " | ", " |".
template <class Line, class Cells>
void pipe_line(Line& line, Cells&& cells) {
    line.lit(Lit::row_open);
    bool first = true;
    cells([&](const auto& cell) {
        if (!first) line.lit(Lit::cell_sep);
        first = false;
        line.put(cell);
    });
    line.lit(Lit::row_close);
}

/// The line under a table's header of `width` cells: "| --- | --- |".
template <class Line>
void delimiter_line(Line& line, std::size_t width) {
    line.lit(Lit::row_open);
    for (std::size_t k = 0; k < width; ++k) {
        if (k > 0) line.lit(Lit::cell_sep);
        line.lit(Lit::delimiter_cell);
    }
    line.lit(Lit::row_close);
}

// -- Grouping. -----------------------------------------------------------------------------------------------

/// The grouping of blocks into display blocks: consecutive list items are one list and consecutive table
/// rows one table; a heading or a paragraph ends both, a list item ends a table, a table row ends a list. A
/// `Group` sink keeps what is pending and makes the blocks: `flush_list()`, `flush_table()`, `heading(text,
/// level)`, `text(text)`, `list_item(text)`, `table_row(row)`.
template <class Group, class Text>
void group_heading(Group& g, const Text& text, long long level) {
    g.flush_list();
    g.flush_table();
    g.heading(text, heading_level(level));
}
template <class Group, class Text>
void group_text(Group& g, const Text& text) {
    g.flush_list();
    g.flush_table();
    g.text(text);
}
template <class Group, class Text>
void group_list_item(Group& g, const Text& text) {
    g.flush_table();
    g.list_item(text);
}
/// A table row: the list ends before the row is read (`read()` gives it, or nothing when it has no
/// cells); a row without cells shows its text, when it has one, and ends the table before it.
template <class Group, class Read, class Text>
void group_table_row(Group& g, Read&& read, bool has_text, const Text& text) {
    g.flush_list();
    if (auto row = read()) g.table_row(*row);
    else if (has_text) group_text(g, text);
}
template <class Group>
void group_end(Group& g) {
    g.flush_list();
    g.flush_table();
}

// -- Link lists. ---------------------------------------------------------------------------------------------

/// The lines of a link given as a dict: a label line ("- " and the ASIN and title joined with " - ", with the
/// source in parentheses when shown), then the link and the description on indented lines, each part left
/// out when empty.
template <class Lines, class Text>
void link_lines(Lines& lines, const Text& asin, const Text& title, const Text& href, const Text& source,
                const Text& description, bool include_source) {
    const bool has_asin = !lines.empty(asin), has_title = !lines.empty(title);
    const bool show_source = include_source && !lines.empty(source);
    if (has_asin || has_title || show_source) {
        auto& line = lines.next();
        line.lit(Lit::list_marker);
        if (has_asin) line.put(asin);
        if (has_asin && has_title) line.lit(Lit::label_sep);
        if (has_title) line.put(title);
        if (show_source) {
            line.lit(has_asin || has_title ? Lit::source_after_label : Lit::source_alone);
            line.put(source);
            line.lit(Lit::source_close);
        }
    }
    for (const Text* part : {&href, &description}) {
        if (lines.empty(*part)) continue;
        auto& line = lines.next();
        line.lit(Lit::indent);
        line.put(*part);
    }
}

// -- The section. --------------------------------------------------------------------------------------------

/// The fallback title of answer `number`: "第 N 题".
template <class Line, class Number>
void fallback_title(Line& line, const Number& number) {
    line.lit(Lit::fallback_open);
    line.number(number);
    line.lit(Lit::fallback_close);
}

/// What a section shows besides its heading: each part's presence, and a function that writes its lines.
template <class Products, class Body, class Recommended>
struct SectionParts {
    bool has_products;
    Products products;
    bool has_body;
    Body body;
    bool has_recommended;
    Recommended recommended;
    bool has_summary;
};
template <class P, class B, class R>
SectionParts(bool, P, bool, B, bool, R, bool) -> SectionParts<P, B, R>;

/// The lines of one answer's section: the numbered question heading (the fallback title when `question` is
/// null), then the related products, the answer
/// (or the line that says it is missing: when there is no body and no summary), the recommended ASINs and
/// the summary, each under its sub-heading and left out when empty.
template <class Lines, class Number, class Text, class P, class B, class R>
void section_lines(Lines& lines, const Number& number, const Text* question, const SectionParts<P, B, R>& parts,
                   const Text& summary) {
    auto& heading = lines.next();
    heading.lit(Lit::heading_open);
    heading.number(number);
    heading.lit(Lit::heading_colon);
    if (question) heading.put(*question);
    else fallback_title(heading, number);
    auto sub_heading = [&](Lit title) {
        lines.next();
        lines.next().lit(title);
        lines.next();
    };
    if (parts.has_products) {
        sub_heading(Lit::products_heading);
        parts.products();
    }
    if (parts.has_body || !parts.has_summary) {
        sub_heading(Lit::answer_heading);
        if (parts.has_body) {
            parts.body();
        } else {
            auto& line = lines.next();
            line.lit(Lit::fallback_open);
            line.number(number);
            line.lit(Lit::missing_answer_close);
        }
    }
    if (parts.has_recommended) {
        sub_heading(Lit::asins_heading);
        parts.recommended();
    }
    if (parts.has_summary) {
        sub_heading(Lit::summary_heading);
        lines.next().put(summary);
    }
}

// -- The tidy-up of the whole report. ------------------------------------------------------------------------

/// The blank-line rule of the finished report: lines lose their trailing whitespace, a run of blank lines
/// keeps one empty line, and blank lines at the end go (the caller drops the one left). `keep()` is asked
/// of each line in turn.
class BlankRun {
public:
    /// Whether a line is kept: every line with text, and the first blank line of a run.
    constexpr bool keep(bool blank) noexcept {
        const bool kept = !(blank && blank_);
        blank_ = blank;
        return kept;
    }
    /// Whether the last line asked about was blank: the last line kept is then blank too.
    constexpr bool after_blank() const noexcept { return blank_; }

private:
    bool blank_ = false;
};

}  // namespace rundown
