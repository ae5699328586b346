// An answer's section: its link lists, its structured blocks assembled, its text, and the section's layout.
#include "rundown/fast/section.hpp"

#include <algorithm>

namespace rundown::fast {

namespace {

enum class Type { other, heading, paragraph, list_item, table_row };

// The structured block type named by `type`, compared as the host compares a str with each name.
Type type_of(PyObject* type) {
    if (!is_str(type)) {
        if (plain_scalar(type) || plain_container(type)) return Type::other;
        throw NotPlain{};  // its own __eq__ decides
    }
    if (!PyUnicode_IS_ASCII(type)) return Type::other;
    const char* s = static_cast<const char*>(PyUnicode_DATA(type));
    const Py_ssize_t n = PyUnicode_GET_LENGTH(type);
    auto is = [&](const char* name, Py_ssize_t len) { return n == len && std::memcmp(s, name, static_cast<std::size_t>(len)) == 0; };
    if (is("heading", 7)) return Type::heading;
    if (is("paragraph", 9)) return Type::paragraph;
    if (is("list_item", 9)) return Type::list_item;
    if (is("table_row", 9)) return Type::table_row;
    return Type::other;
}

Piece literal(const pyhost::Ref& s) noexcept { return scanned(Piece::of(s.get())); }

}  // namespace

// -- Link lists. ---------------------------------------------------------------------------------------------

void Links::read(Reader& r, PyObject* raw, bool include_source) {
    include_source_ = include_source;
    links_.clear();
    if (!exact_list(raw)) return;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(raw); ++i) {
        PyObject* item = PyList_GET_ITEM(raw, i);
        if (is_str(item)) {
            Piece text = r.stripped(item);
            if (!text.empty()) links_.push_back({true, text, {}, {}, {}, {}, {}});
        } else if (exact_dict(item)) {
            PyObject* f[field_count];
            r.read(item, f);
            Link link{false, {}, {}, {}, {}, {}, {}};
            link.asin = r.stripped(f[f_asin]);
            link.title = r.stripped(r.truth(f[f_title]) ? f[f_title] : f[f_href]);
            link.href = r.stripped(f[f_href]);
            link.source = r.stripped(f[f_source]);
            link.description = r.stripped(f[f_description]);
            if (!label_empty(link) || !link.href.empty() || !link.description.empty()) links_.push_back(link);
        }
    }
}

template <class Out>
void Links::render(Writer<Out>& lines) const {
    for (const Link& link : links_) {
        if (link.is_str) {
            Writer<Out>& out = lines.next();
            out.word("- ", 2);
            out.put(link.text);
            continue;
        }
        if (!label_empty(link)) {
            Writer<Out>& out = lines.next();
            out.word("- ", 2);
            out.put(link.asin);
            if (!link.asin.empty() && !link.title.empty()) out.word(" - ", 3);
            out.put(link.title);
            if (shows_source(link)) {
                if (link.asin.empty() && link.title.empty()) out.word("(", 1);
                else out.word(" (", 2);
                out.put(link.source);
                out.word(")", 1);
            }
        }
        for (const Piece& part : {link.href, link.description}) {
            if (part.empty()) continue;
            Writer<Out>& out = lines.next();
            out.word("  ", 2);
            out.put(part);
        }
    }
}

// -- The section. --------------------------------------------------------------------------------------------

Literals::Literals(const State& st)
    : heading_open(literal(st.heading_open)), heading_colon(literal(st.heading_colon)),
      fallback_open(literal(st.fallback_open)), fallback_close(literal(st.fallback_close)),
      missing_answer_close(literal(st.missing_answer_close)), products_heading(literal(st.products_heading)),
      answer_heading(literal(st.answer_heading)), asins_heading(literal(st.asins_heading)),
      summary_heading(literal(st.summary_heading)) {
    for (const Piece* p : {&heading_open, &heading_colon, &fallback_open, &fallback_close, &missing_answer_close,
                           &products_heading, &answer_heading, &asins_heading, &summary_heading})
        kind = std::max<int>(kind, p->kind);
}

void Section::read(Reader& r, PyObject* answer) {
    body_ = Body::none;
    blocks_.clear();
    PyObject* f[field_count];
    if (exact_dict(answer)) r.read(answer, f, f_asin);  // an answer's fields come next
    else std::fill(f, f + field_count, Py_None);         // read as an empty record
    products_.read(r, f[f_product_links], false);
    summary_ = r.stripped(f[f_summary]);
    read_body(r, f);
    recommended_.read(r, f[f_recommended], true);
    kind_ = r.take_kind();
}

// Its structured blocks when they give anything, else its parsed text.
void Section::read_body(Reader& r, PyObject* const* f) {
    const Piece full = r.stripped(f[f_text]);
    if (f[f_is_success] == Py_False && full.empty()) return;
    PyObject* given = exact_list(f[f_blocks]);
    if (given && PyList_GET_SIZE(given) > 0) {
        assemble(r, given);
        if (!blocks_.empty()) {
            body_ = Body::blocks;
            return;
        }
    }
    // A stripped, non-empty text always yields a block, so the whole-text block of last resort never arises.
    if (!full.empty()) {
        text_ = full;
        body_ = Body::text;
    }
}

// The display blocks of the answer's structured blocks.
void Section::assemble(Reader& r, PyObject* blocks) {
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(blocks); ++i) {
        PyObject* block = exact_dict(PyList_GET_ITEM(blocks, i));
        if (!block) continue;
        PyObject* f[field_count];
        r.read(block, f, f_summary);  // a block's fields come first
        const Type type = type_of(f[f_type]);
        Piece text = r.stripped(f[f_text]);
        if ((text.empty() && type != Type::table_row) || type == Type::other) continue;
        if (type == Type::heading) {
            PyObject* level = f[f_level];
            long long v = 2;
            if (PyLong_Check(level)) {
                int overflow = 0;
                v = PyLong_AsLongLongAndOverflow(level, &overflow);
                if (overflow) v = overflow > 0 ? 6 : 1;
            }
            blocks_.heading(text, static_cast<int>(heading_level(v)));
        } else if (type == Type::paragraph) {
            blocks_.text(text);
        } else if (type == Type::list_item) {
            blocks_.list_item(text);
        } else {
            blocks_.flush_list();
            // A narrow row's cells are read now and kept; a wide one is read again as it is written.
            constexpr std::size_t narrow = 8;
            PyObject* given = exact_list(f[f_cells]);
            const Py_ssize_t n = given ? PyList_GET_SIZE(given) : 0;
            if (n > 0 && static_cast<std::size_t>(n) <= narrow) {
                blocks_.table_row_of(static_cast<std::size_t>(n));
                for (Py_ssize_t k = 0; k < n; ++k) blocks_.cell(r.stripped(PyList_GET_ITEM(given, k)));
                continue;
            }
            if (n > 0) {
                r.check_cells(given);
                blocks_.table_row({{}, given, static_cast<std::size_t>(n), nullptr});
                continue;
            }
            Piece cells[narrow];
            const Piece line = r.text(f[f_text]);
            const std::size_t width =
                with_chars(line, [&](const auto* p) { return match_pipe_row(line, p, nullptr, cells, narrow); });
            if (width > narrow) {
                blocks_.table_row({line, nullptr, width, nullptr});
            } else if (width) {
                blocks_.table_row_of(width);
                for (std::size_t k = 0; k < width; ++k) blocks_.cell(cells[k]);
            } else if (!text.empty()) {
                blocks_.text(text);
            }
        }
    }
}

Chunk Section::write(Output& out, const Literals& lit, long long number, const Piece* question) {
    out.begin(std::max({kind_, lit.kind, question ? int{question->kind} : PyUnicode_1BYTE_KIND}));
    with_writer(out, [&](auto& w) { write(w, lit, number, question); });
    return out.end();
}

template <class Out>
void Section::write(Writer<Out>& lines, const Literals& lit, long long number, const Piece* question) {
    Writer<Out>& heading = lines.next();
    heading.put(lit.heading_open);
    write_number(heading, number);
    heading.put(lit.heading_colon);
    if (question) {
        heading.put(*question);
    } else {
        heading.put(lit.fallback_open);
        write_number(heading, number);
        heading.put(lit.fallback_close);
    }
    auto sub_heading = [&](const Piece& title) {
        lines.next();
        lines.next().put(title);
        lines.next();
    };
    if (!products_.empty()) {
        sub_heading(lit.products_heading);
        products_.render(lines);
    }
    // A text body always gives a line; blocks may not.
    const bool has_body = body_ == Body::text || (body_ == Body::blocks && blocks_.renders());
    if (has_body || summary_.empty()) {
        sub_heading(lit.answer_heading);
        if (body_ == Body::text) {
            write_text(lines, text_, paragraph_);
        } else if (has_body) {
            blocks_.render(lines);
        } else {
            Writer<Out>& out = lines.next();
            out.put(lit.fallback_open);
            write_number(out, number);
            out.put(lit.missing_answer_close);
        }
    }
    if (!recommended_.empty()) {
        sub_heading(lit.asins_heading);
        recommended_.render(lines);
    }
    if (!summary_.empty()) {
        sub_heading(lit.summary_heading);
        lines.next().put(summary_);
    }
}

}  // namespace rundown::fast
