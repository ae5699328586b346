// The native report: a check that the record is plain (read without running Python code), then question
// texts, sections, link lines and answer bodies written straight into the tidied output.
#include "rundown/fast/report.hpp"

#include "rundown/fast/blocks.hpp"
#include "rundown/fast/output.hpp"
#include "rundown/fast/match.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <cstdint>
#include <optional>

namespace rundown::fast {

using pyhost::Call;
using pyhost::check;
using pyhost::Ref;

namespace {


// -- Plain records. -------------------------------------------------------------------------------------------

/// Thrown where the record holds a value whose reading could run Python code: a subclassed dict, list or str,
/// a container where text is read, an object of another type. It is thrown before any such code runs (the
/// values read up to then are plain, so nothing the caller can see has happened) and the generic path takes over.
struct NotPlain {};

PyObject* exact_dict(PyObject* v) {
    if (PyDict_Check(v) && !PyDict_CheckExact(v)) throw NotPlain{};
    return PyDict_Check(v) ? v : nullptr;
}

PyObject* exact_list(PyObject* v) {
    if (PyList_Check(v) && !PyList_CheckExact(v)) throw NotPlain{};
    return PyList_Check(v) ? v : nullptr;
}

/// None, a bool, or an exact int or float: values that never equal a str and whose truth and text the
/// interpreter finds on its own.
bool plain_scalar(PyObject* v) noexcept {
    return v == Py_None || PyBool_Check(v) || PyLong_CheckExact(v) || PyFloat_CheckExact(v);
}

/// An exact list, tuple or dict: its truth is its length, and it never equals a str (the comparison returns
/// NotImplemented both ways without looking at the items).
bool plain_container(PyObject* v) noexcept { return PyList_CheckExact(v) || PyTuple_CheckExact(v) || PyDict_CheckExact(v); }

// -- The fields of the record's dicts, read in one pass over each dict. -------------------------------------

enum Field : int {
    f_type, f_text, f_level, f_cells, f_summary, f_is_success, f_blocks, f_product_links, f_recommended, f_asin,
    f_title, f_href, f_source, f_description, f_question, f_answers, f_questions, f_upload_payload, f_records,
    field_count
};

/// Reads the known fields of a dict by walking its entries; the key objects of decoded JSON repeat from dict
/// to dict, so each is compared with the field names once and then recognised by identity.
class Fields {
public:
    explicit Fields(const State& st)
        : names_{st.type.get(),        st.text.get(),          st.level.get(),
                 st.cells.get(),       st.summary_text_key.get(), st.is_success_key.get(),
                 st.blocks_key.get(),  st.product_links_key.get(), st.recommended_asins_key.get(),
                 st.asin.get(),        st.title.get(),         st.href.get(),
                 st.source.get(),      st.description.get(),   st.question.get(),
                 st.answers.get(),     st.questions.get(),     st.upload_payload.get(),
                 st.records.get()} {}

    /// The values of `dict` by field; None where a field is missing.
    void read(PyObject* dict, PyObject** out) {
        std::fill(out, out + field_count, Py_None);
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(dict, &pos, &key, &value)) {
            const int id = id_of(key);
            if (id >= 0) out[id] = value;
        }
    }

private:
    // Equality of two exact str, whose widths are the narrowest that hold them.
    static bool same_text(PyObject* a, PyObject* b) noexcept {
        const Py_ssize_t n = PyUnicode_GET_LENGTH(a);
        return n == PyUnicode_GET_LENGTH(b) && PyUnicode_KIND(a) == PyUnicode_KIND(b) &&
               std::memcmp(PyUnicode_DATA(a), PyUnicode_DATA(b), static_cast<std::size_t>(n) * PyUnicode_KIND(a)) == 0;
    }

    int id_of(PyObject* key) {
        Slot& slot = cache_[(reinterpret_cast<std::uintptr_t>(key) >> 4) % cache_size];
        if (slot.key == key) return slot.id;
        // A key of another kind could compare equal to a field name through Python code of its own.
        if (!PyUnicode_CheckExact(key) && !plain_scalar(key)) throw NotPlain{};
        int id = -1;
        if (PyUnicode_CheckExact(key))
            for (int i = 0; i < field_count && id < 0; ++i)
                if (key == names_[i] || same_text(key, names_[i])) id = i;
        slot = {key, id};  // the key lives as long as the record, which outlives this reader
        return id;
    }

    struct Slot {
        PyObject* key = nullptr;
        int id = -1;
    };
    static constexpr std::size_t cache_size = 61;
    PyObject* names_[field_count];
    Slot cache_[cache_size];
};

// -- Reading a plain record. ---------------------------------------------------------------------------

class Reader {
public:
    Reader(const State& st, Arena& arena) : arena_(arena), fields_(st) {}

    /// The known fields of a dict, by `Field`.
    void read(PyObject* dict, PyObject** out) { fields_.read(dict, out); }

    /// The text of a value: `str()` of a truthy value, else "", unstripped. Only values whose truth and text
    /// the interpreter finds without running Python code, or allocating anything the collector tracks.
    Piece text(PyObject* v) {
        if (PyUnicode_CheckExact(v)) return held(Piece::of(v));
        if (!truth(v)) return {};
        if (!plain_scalar(v)) throw NotPlain{};  // a container's text is its repr, which may call back
        return held(arena_.own(pyhost::str(v)));
    }
    /// The truth of a plain value.
    bool truth(PyObject* v) const {
        if (PyUnicode_CheckExact(v) || plain_scalar(v) || plain_container(v)) return pyhost::truthy(v);
        throw NotPlain{};
    }
    /// An item that is read as text when it is a str: only an exact str.
    bool is_str(PyObject* v) const {
        if (PyUnicode_Check(v) && !PyUnicode_CheckExact(v)) throw NotPlain{};
        return PyUnicode_Check(v);
    }
    /// The stripped text, looked at for line boundaries: the form in which a value is written out.
    Piece stripped(PyObject* v) { return scanned(strip(text(v))); }
    /// The stripped text, not looked at: for a text that is walked or only tested.
    Piece stripped_unscanned(PyObject* v) { return strip(text(v)); }

    /// The widest str width read so far.
    int kind() const noexcept { return kind_; }

private:
    Piece held(Piece p) noexcept {
        kind_ = std::max<int>(kind_, p.kind);
        return p;
    }
    Arena& arena_;
    Fields fields_;
    int kind_ = PyUnicode_1BYTE_KIND;
};

// The non-empty texts of a question list, in order.
void normalize_questions(Reader& r, PyObject* raw, std::vector<Piece>& out) {
    if (!exact_list(raw)) return;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(raw); ++i) {
        PyObject* item = PyList_GET_ITEM(raw, i);
        Piece text;
        if (r.is_str(item)) {
            text = r.stripped(item);
        } else if (exact_dict(item)) {
            PyObject* f[field_count];
            r.read(item, f);
            text = r.stripped(r.truth(f[f_question]) ? f[f_question] : f[f_text]);
        }
        if (!text.empty()) out.push_back(text);
    }
}

// The question texts of the record, whose fields are `f`: its own, else those of the upload payload's first record.
void extract_questions(Reader& r, PyObject* const* f, std::vector<Piece>& out) {
    normalize_questions(r, f[f_questions], out);
    if (!out.empty()) return;
    PyObject* payload = exact_dict(f[f_upload_payload]);
    if (!payload) return;
    PyObject* fp[field_count];
    r.read(payload, fp);
    PyObject* records = exact_list(fp[f_records]);
    if (!records || PyList_GET_SIZE(records) == 0) return;
    PyObject* first = exact_dict(PyList_GET_ITEM(records, 0));
    if (!first) return;
    r.read(first, fp);
    normalize_questions(r, fp[f_questions], out);
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
        if (!exact_list(raw)) return;
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(raw); ++i) {
            PyObject* item = PyList_GET_ITEM(raw, i);
            if (r.is_str(item)) {
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

    bool empty() const noexcept { return links_.empty(); }

    template <class Out>
    void render(Writer<Out>& lines) const {
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

private:
    bool shows_source(const Link& l) const noexcept { return include_source_ && !l.source.empty(); }
    bool label_empty(const Link& l) const noexcept { return l.asin.empty() && l.title.empty() && !shows_source(l); }

    bool include_source_;
    std::vector<Link> links_;
};

enum class Type { other, heading, paragraph, list_item, table_row };

// The structured block type named by `type`, compared as the host compares a str with each name.
Type type_of(PyObject* type) {
    if (!PyUnicode_CheckExact(type)) {
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

// The display blocks of the answer's structured blocks.
void assemble_structured(Reader& r, PyObject* blocks, Assembly& out) {
    std::vector<Piece>& cells = out.scratch_cells;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(blocks); ++i) {
        PyObject* block = exact_dict(PyList_GET_ITEM(blocks, i));
        if (!block) continue;
        PyObject* f[field_count];
        r.read(block, f);
        const Type type = type_of(f[f_type]);
        Piece text = r.stripped_unscanned(f[f_text]);
        if ((text.empty() && type != Type::table_row) || type == Type::other) continue;
        text = scanned(text);
        if (type == Type::heading) {
            PyObject* level = f[f_level];
            long long v = 2;
            if (PyLong_Check(level)) {
                int overflow = 0;
                v = PyLong_AsLongLongAndOverflow(level, &overflow);
                if (overflow) v = overflow > 0 ? 6 : 1;
            }
            out.heading(text, static_cast<int>(std::clamp(v, 1LL, 6LL)));
        } else if (type == Type::paragraph) {
            out.text(&text, 1);
        } else if (type == Type::list_item) {
            out.list_item(text);
        } else if (type == Type::table_row) {
            out.flush_list();
            cells.clear();
            PyObject* given = exact_list(f[f_cells]);
            if (given && PyList_GET_SIZE(given) > 0) {
                for (Py_ssize_t k = 0; k < PyList_GET_SIZE(given); ++k)
                    cells.push_back(r.stripped(PyList_GET_ITEM(given, k)));
                out.table_row(cells.data(), cells.size());
            } else if (match_pipe_row(r.text(f[f_text]), cells)) {
                out.table_row(cells.data(), cells.size());
            } else if (!text.empty()) {
                out.text(&text, 1);
            }
        }
    }
    out.finish();
}

// The body of an answer: its structured blocks when they give anything, else its parsed text.
void assemble_body(Reader& r, PyObject* const* f, Assembly& out) {
    const Piece text = r.stripped_unscanned(f[f_text]);
    if (f[f_is_success] == Py_False && text.empty()) return;
    PyObject* blocks = exact_list(f[f_blocks]);
    if (blocks && PyList_GET_SIZE(blocks) > 0) {
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

/// The texts that every report writes, looked at once per report.
struct Literals {
    explicit Literals(const State& st)
        : heading_open(literal(st.heading_open)), heading_colon(literal(st.heading_colon)),
          fallback_open(literal(st.fallback_open)), fallback_close(literal(st.fallback_close)),
          missing_answer_close(literal(st.missing_answer_close)), products_heading(literal(st.products_heading)),
          answer_heading(literal(st.answer_heading)), asins_heading(literal(st.asins_heading)),
          summary_heading(literal(st.summary_heading)) {
        for (const Piece* p : {&heading_open, &heading_colon, &fallback_open, &fallback_close, &missing_answer_close,
                               &products_heading, &answer_heading, &asins_heading, &summary_heading})
            kind = std::max<int>(kind, p->kind);
    }

    Piece heading_open, heading_colon, fallback_open, fallback_close, missing_answer_close, products_heading,
        answer_heading, asins_heading, summary_heading;
    int kind = PyUnicode_1BYTE_KIND;  // the widest of them

private:
    static Piece literal(const Ref& s) noexcept { return scanned(Piece::of(s.get())); }
};

template <class Out>
void write_number(Writer<Out>& out, long long n) {
    char digits[24];
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, n);
    out.word(digits, static_cast<std::size_t>(end - digits));
}

/// One answer's section, read.
struct Section {
    Section(Reader& r, PyObject* answer, Assembly& body_) : body(body_) {
        PyObject* f[field_count];
        if (exact_dict(answer)) r.read(answer, f);
        else std::fill(f, f + field_count, Py_None);  // read as an empty record
        products.emplace(r, f[f_product_links], false);
        summary = r.stripped(f[f_summary]);
        body.clear();
        assemble_body(r, f, body);
        recommended.emplace(r, f[f_recommended], true);
    }

    template <class Out>
    void write(Writer<Out>& lines, const Literals& lit, long long number, const std::vector<Piece>& questions) const {
        lines.next_section();
        Writer<Out>& heading = lines.next();
        heading.put(lit.heading_open);
        write_number(heading, number);
        heading.put(lit.heading_colon);
        if (number <= static_cast<long long>(questions.size())) {
            heading.put(questions[static_cast<std::size_t>(number - 1)]);
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
        if (!products->empty()) {
            sub_heading(lit.products_heading);
            products->render(lines);
        }
        const bool has_body = body.renders();
        if (has_body || summary.empty()) {
            sub_heading(lit.answer_heading);
            if (has_body) {
                body.render(lines);
            } else {
                Writer<Out>& out = lines.next();
                out.put(lit.fallback_open);
                write_number(out, number);
                out.put(lit.missing_answer_close);
            }
        }
        if (!recommended->empty()) {
            sub_heading(lit.asins_heading);
            recommended->render(lines);
        }
        if (!summary.empty()) {
            sub_heading(lit.summary_heading);
            lines.next().put(summary);
        }
    }

    std::optional<Links> products, recommended;
    Piece summary;
    Assembly& body;
};

}  // namespace

Ref report(const Call& c, PyObject* data) {
    const State& st = c.state<State>();
    // No Python code runs from here on: the record's dicts are read by walking their entries, never by a lookup
    // that could ask a key's __eq__, and a value whose reading could run code sends the call down the generic
    // path before it does. So the record cannot change, and borrowed references stay valid.
    try {
        Arena arena;
        Reader reader(st, arena);
        PyObject* f[field_count];
        reader.read(data, f);
        PyObject* answers = f[f_answers];
        if (!PyList_Check(answers)) return st.empty;
        if (!PyList_CheckExact(answers)) return {};
        if (PyList_GET_SIZE(answers) == 0) return st.empty;
        const Literals literals(st);
        std::vector<Piece> questions;
        extract_questions(reader, f, questions);
        Output out;
        Assembly body;
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(answers); ++i) {
            const Section section(reader, PyList_GET_ITEM(answers, i), body);
            // Each section is written at one width, wide enough for everything read up to now.
            out.widen(std::max(reader.kind(), literals.kind));
            with_writer(out, [&](auto& w) { section.write(w, literals, static_cast<long long>(i) + 1, questions); });
        }
        return out.finish();
    } catch (const NotPlain&) {
        return {};
    }
}

}  // namespace rundown::fast
