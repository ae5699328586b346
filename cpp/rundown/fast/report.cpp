// The native report: a check that the record is plain (read without running Python code), then question
// texts, sections, link lines and answer bodies written straight into the tidied output.
#include "rundown/fast/report.hpp"

#include "rundown/fast/blocks.hpp"
#include "rundown/fast/collapse.hpp"
#include "rundown/fast/match.hpp"

#include <algorithm>
#include <charconv>

namespace rundown::fast {

using pyhost::Call;
using pyhost::check;
using pyhost::Ref;

namespace {

constexpr int max_depth = 32;

PyObject* lookup(PyObject* dict, PyObject* key) {
    PyObject* v = PyDict_GetItemWithError(dict, key);
    if (!v && PyErr_Occurred()) throw pyhost::Error{};
    return v ? v : Py_None;
}

// -- Plainness: values whose truth, str() and comparison with a str run no Python code. -------------------

bool plain_value(PyObject* v, int depth) {
    if (PyUnicode_CheckExact(v) || v == Py_None || PyBool_Check(v) || PyLong_CheckExact(v) || PyFloat_CheckExact(v))
        return true;
    if (depth >= max_depth) return false;
    if (PyList_CheckExact(v) || PyTuple_CheckExact(v)) {
        PyObject* const* items = PySequence_Fast_ITEMS(v);
        for (Py_ssize_t i = 0, n = PySequence_Fast_GET_SIZE(v); i < n; ++i)
            if (!plain_value(items[i], depth + 1)) return false;
        return true;
    }
    if (PyDict_CheckExact(v)) {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(v, &pos, &key, &value))
            if (!plain_value(key, depth + 1) || !plain_value(value, depth + 1)) return false;
        return true;
    }
    return false;
}

bool plain_fields(PyObject* dict, std::initializer_list<PyObject*> keys) {
    for (PyObject* key : keys)
        if (!plain_value(lookup(dict, key), 0)) return false;
    return true;
}

// A list read item by item: exact strs, exact dicts with plain fields, and anything else (which is skipped).
bool plain_items(PyObject* v, std::initializer_list<PyObject*> keys) {
    if (!PyList_Check(v)) return true;
    if (!PyList_CheckExact(v)) return false;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(v); ++i) {
        PyObject* item = PyList_GET_ITEM(v, i);
        if (PyUnicode_Check(item) && !PyUnicode_CheckExact(item)) return false;
        if (PyDict_Check(item) && (!PyDict_CheckExact(item) || !plain_fields(item, keys))) return false;
    }
    return true;
}

bool plain_blocks(const State& st, PyObject* v) {
    if (!PyList_Check(v)) return true;
    if (!PyList_CheckExact(v)) return false;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(v); ++i) {
        PyObject* block = PyList_GET_ITEM(v, i);
        if (!PyDict_Check(block)) continue;
        if (!PyDict_CheckExact(block) || !plain_fields(block, {st.type.get(), st.text.get()})) return false;
        PyObject* cells = lookup(block, st.cells.get());
        if (PyList_Check(cells) && !(PyList_CheckExact(cells) && plain_value(cells, max_depth - 1))) return false;
    }
    return true;
}

bool plain_record(const State& st, PyObject* data, PyObject* answers) {
    if (!plain_items(lookup(data, st.questions.get()), {st.question.get(), st.text.get()})) return false;
    PyObject* payload = lookup(data, st.upload_payload.get());
    if (PyDict_Check(payload)) {
        if (!PyDict_CheckExact(payload)) return false;
        PyObject* records = lookup(payload, st.records.get());
        if (PyList_Check(records)) {
            if (!PyList_CheckExact(records)) return false;
            if (PyList_GET_SIZE(records) > 0) {
                PyObject* first = PyList_GET_ITEM(records, 0);
                if (PyDict_Check(first) &&
                    (!PyDict_CheckExact(first) ||
                     !plain_items(lookup(first, st.questions.get()), {st.question.get(), st.text.get()})))
                    return false;
            }
        }
    }
    const std::initializer_list<PyObject*> link_keys = {st.asin.get(), st.title.get(), st.href.get(), st.source.get(),
                                                        st.description.get()};
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(answers); ++i) {
        PyObject* answer = PyList_GET_ITEM(answers, i);
        if (!PyDict_Check(answer)) continue;
        if (!PyDict_CheckExact(answer)) return false;
        if (!plain_fields(answer, {st.text.get(), st.summary_text_key.get()}) ||
            !plain_items(lookup(answer, st.product_links_key.get()), link_keys) ||
            !plain_items(lookup(answer, st.recommended_asins_key.get()), link_keys) ||
            !plain_blocks(st, lookup(answer, st.blocks_key.get())))
            return false;
    }
    return true;
}

// -- Reading a plain record. ---------------------------------------------------------------------------

class Reader {
public:
    Reader(const State& st, Arena& arena) : st_(st), arena_(arena) {}

    /// The text of a value: `str()` of a truthy value, else "", unstripped.
    Piece text(PyObject* v) {
        if (PyUnicode_CheckExact(v)) return whole(arena_.hold(v));
        if (!pyhost::truthy(v)) return {};
        return whole(arena_.own(pyhost::str(v)));
    }
    Piece stripped(PyObject* v) { return strip(text(v)); }
    Piece field(PyObject* dict, PyObject* key) { return stripped(lookup(dict, key)); }

    const State& st() const noexcept { return st_; }

private:
    static Piece whole(const Src* s) noexcept { return {s, 0, s->len}; }
    const State& st_;
    Arena& arena_;
};

// The non-empty texts of a question list, in order.
void normalize_questions(Reader& r, PyObject* raw, std::vector<Piece>& out) {
    if (!PyList_Check(raw)) return;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(raw); ++i) {
        PyObject* item = PyList_GET_ITEM(raw, i);
        Piece text;
        if (PyUnicode_Check(item)) {
            text = r.stripped(item);
        } else if (PyDict_Check(item)) {
            PyObject* value = lookup(item, r.st().question.get());
            if (!pyhost::truthy(value)) value = lookup(item, r.st().text.get());
            text = r.stripped(value);
        }
        if (!text.empty()) out.push_back(text);
    }
}

void extract_questions(Reader& r, PyObject* data, std::vector<Piece>& out) {
    const State& st = r.st();
    normalize_questions(r, lookup(data, st.questions.get()), out);
    if (!out.empty()) return;
    PyObject* payload = lookup(data, st.upload_payload.get());
    if (!PyDict_Check(payload)) return;
    PyObject* records = lookup(payload, st.records.get());
    if (!PyList_Check(records) || PyList_GET_SIZE(records) == 0) return;
    PyObject* first = PyList_GET_ITEM(records, 0);
    if (PyDict_Check(first)) normalize_questions(r, lookup(first, st.questions.get()), out);
}

/// The lines of one link list.
struct Link {
    bool is_str;
    Piece text;  // a str item
    Piece asin, title, href, source, description;
};

class Links {
public:
    Links(Reader& r, PyObject* raw, bool include_source) : include_source_(include_source) {
        if (!PyList_Check(raw)) return;
        const State& st = r.st();
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(raw); ++i) {
            PyObject* item = PyList_GET_ITEM(raw, i);
            if (PyUnicode_Check(item)) {
                Piece text = r.stripped(item);
                if (!text.empty()) links_.push_back({true, text, {}, {}, {}, {}, {}});
            } else if (PyDict_Check(item)) {
                Link link{false, {}, {}, {}, {}, {}, {}};
                link.asin = r.field(item, st.asin.get());
                PyObject* title = lookup(item, st.title.get());
                link.title = r.stripped(pyhost::truthy(title) ? title : lookup(item, st.href.get()));
                link.href = r.field(item, st.href.get());
                link.source = r.field(item, st.source.get());
                link.description = r.field(item, st.description.get());
                if (!label_empty(link) || !link.href.empty() || !link.description.empty()) links_.push_back(link);
            }
        }
    }

    bool empty() const noexcept { return links_.empty(); }

    void render(Lines& lines, const State& st) const {
        for (const Link& link : links_) {
            if (link.is_str) {
                Collapser& out = lines.next();
                out.feed(st.list_marker.get());
                out.feed(link.text);
                continue;
            }
            if (!label_empty(link)) {
                Collapser& out = lines.next();
                out.feed(st.list_marker.get());
                out.feed(link.asin);
                if (!link.asin.empty() && !link.title.empty()) out.feed(st.label_sep.get());
                out.feed(link.title);
                if (shows_source(link)) {
                    out.feed(link.asin.empty() && link.title.empty() ? st.open_paren.get() : st.paren_open.get());
                    out.feed(link.source);
                    out.feed(st.paren_close.get());
                }
            }
            for (const Piece& part : {link.href, link.description}) {
                if (part.empty()) continue;
                Collapser& out = lines.next();
                out.feed(st.indent.get());
                out.feed(part);
            }
        }
    }

private:
    bool shows_source(const Link& l) const noexcept { return include_source_ && !l.source.empty(); }
    bool label_empty(const Link& l) const noexcept { return l.asin.empty() && l.title.empty() && !shows_source(l); }

    bool include_source_;
    std::vector<Link> links_;
};

// The display blocks of the answer's structured blocks.
void assemble_structured(Reader& r, PyObject* blocks, Assembly& out) {
    const State& st = r.st();
    std::vector<Piece> cells;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(blocks); ++i) {
        PyObject* block = PyList_GET_ITEM(blocks, i);
        if (!PyDict_Check(block)) continue;
        PyObject* type = lookup(block, st.type.get());
        const bool is_str = PyUnicode_CheckExact(type);
        auto is = [&](const Ref& name) { return is_str && PyUnicode_Compare(type, name.get()) == 0; };
        const Piece text = r.field(block, st.text.get());
        const bool row = is(st.table_row);
        if (text.empty() && !row) continue;
        if (is(st.heading)) {
            PyObject* level = lookup(block, st.level.get());
            long long v = 2;
            if (PyLong_Check(level)) {
                int overflow = 0;
                v = PyLong_AsLongLongAndOverflow(level, &overflow);
                if (overflow) v = overflow > 0 ? 6 : 1;
            }
            out.heading(text, static_cast<int>(std::clamp(v, 1LL, 6LL)));
        } else if (is(st.paragraph)) {
            out.text(&text, 1);
        } else if (is(st.list_item)) {
            out.list_item(text);
        } else if (row) {
            out.flush_list();
            cells.clear();
            PyObject* given = lookup(block, st.cells.get());
            if (PyList_Check(given) && PyList_GET_SIZE(given) > 0) {
                for (Py_ssize_t k = 0; k < PyList_GET_SIZE(given); ++k) cells.push_back(r.stripped(PyList_GET_ITEM(given, k)));
                out.table_row(cells.data(), cells.size());
            } else if (match_pipe_row(r.text(lookup(block, st.text.get())), cells)) {
                out.table_row(cells.data(), cells.size());
            } else if (!text.empty()) {
                out.text(&text, 1);
            }
        }
    }
    out.finish();
}

// The body of an answer: its structured blocks when they give anything, else its parsed text.
void assemble_body(Reader& r, PyObject* answer, Assembly& out) {
    const State& st = r.st();
    const Piece text = r.field(answer, st.text.get());
    if (lookup(answer, st.is_success_key.get()) == Py_False && text.empty()) return;
    PyObject* blocks = lookup(answer, st.blocks_key.get());
    if (PyList_Check(blocks) && PyList_GET_SIZE(blocks) > 0) {
        assemble_structured(r, blocks, out);
        if (!out.empty()) return;
        out.clear();
    }
    // A stripped, non-empty text always yields a block, so the whole-text block of last resort never arises.
    if (!text.empty()) {
        walk_text(out, text);
        out.finish();
    }
}

void write_number(Collapser& out, long long n) {
    char digits[24];
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, n);
    out.feed_word(digits, static_cast<std::size_t>(end - digits));
}

void write_section(Reader& r, Lines& lines, long long number, PyObject* answer, const std::vector<Piece>& questions) {
    const State& st = r.st();
    Ref empty_answer;
    if (!PyDict_Check(answer)) {
        empty_answer = pyhost::new_dict();
        answer = empty_answer.get();
    }
    const Links products(r, lookup(answer, st.product_links_key.get()), false);
    const Piece summary = r.field(answer, st.summary_text_key.get());
    Assembly body;
    assemble_body(r, answer, body);
    const Links recommended(r, lookup(answer, st.recommended_asins_key.get()), true);

    lines.next_section();
    Collapser& heading = lines.next();
    heading.feed(st.heading_open.get());
    write_number(heading, number);
    heading.feed(st.heading_colon.get());
    if (number <= static_cast<long long>(questions.size())) {
        heading.feed(questions[static_cast<std::size_t>(number - 1)]);
    } else {
        heading.feed(st.fallback_open.get());
        write_number(heading, number);
        heading.feed(st.fallback_close.get());
    }
    auto sub_heading = [&](const Ref& title) {
        lines.next();
        lines.next().feed(title.get());
        lines.next();
    };
    if (!products.empty()) {
        sub_heading(st.products_heading);
        products.render(lines, st);
    }
    const bool has_body = body.renders();
    if (has_body || summary.empty()) {
        sub_heading(st.answer_heading);
        if (has_body) {
            body.render(lines, st);
        } else {
            Collapser& out = lines.next();
            out.feed(st.fallback_open.get());
            write_number(out, number);
            out.feed(st.missing_answer_close.get());
        }
    }
    if (!recommended.empty()) {
        sub_heading(st.asins_heading);
        recommended.render(lines, st);
    }
    if (!summary.empty()) {
        sub_heading(st.summary_heading);
        lines.next().feed(summary);
    }
}

}  // namespace

Ref report(const Call& c, PyObject* data) {
    const State& st = c.state<State>();
    Ref answers = Ref::borrow(lookup(data, st.answers.get()));
    if (!PyList_Check(answers.get())) return st.empty;
    if (!PyList_CheckExact(answers.get()) || !plain_record(st, data, answers.get())) return {};
    if (PyList_GET_SIZE(answers.get()) == 0) return st.empty;
    Ref keep_data = Ref::borrow(data);
    Arena arena;
    Reader reader(st, arena);
    std::vector<Piece> questions;
    extract_questions(reader, data, questions);
    Collapser out;
    Lines lines(out);
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(answers.get()); ++i) {
        Ref answer = Ref::borrow(PyList_GET_ITEM(answers.get(), i));
        write_section(reader, lines, static_cast<long long>(i) + 1, answer.get(), questions);
    }
    return out.finish();
}

}  // namespace rundown::fast
