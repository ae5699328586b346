// The native report: a check that the record is plain (read without running Python code), then question
// texts, sections, link lines and answer bodies written straight into the tidied output.
#include "rundown/fast/report.hpp"

#include "pyhost/entries.hpp"
#include "rundown/fast/blocks.hpp"
#include "rundown/fast/helper.hpp"
#include "rundown/fast/match.hpp"
#include "rundown/fast/output.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <utility>
#include <vector>

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

/// Asks for the memory of the items of `list` that the loop at `i` reads next: the header of the item after the
/// next, and the table of keys and values of the next one (whose header was asked for one turn before).
inline void prefetch_ahead(PyObject* list, Py_ssize_t i) noexcept {
    const Py_ssize_t n = PyList_GET_SIZE(list);
    if (i + 4 < n) __builtin_prefetch(PyList_GET_ITEM(list, i + 4));
    if (i + 2 < n) {
        PyObject* next = PyList_GET_ITEM(list, i + 2);
        if (PyDict_CheckExact(next)) {
            const char* keys = reinterpret_cast<const char*>(reinterpret_cast<PyDictObject*>(next)->ma_keys);
            __builtin_prefetch(keys);
            __builtin_prefetch(keys + 64);
        }
    }
}

// -- The fields of the record's dicts, read in one pass over each dict. -------------------------------------

// In this order: a block's fields, then an answer's, so that each of those reads only its first fields.
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

    /// The values of `dict` by field, for the fields before `upto`; None where a field is missing.
    void read(PyObject* dict, PyObject** out, Field upto) {
        std::fill(out, out + upto, Py_None);
        pyhost::for_each_entry(dict, [&](PyObject* key, PyObject* value) {
            const int id = id_of(key);  // every key is looked at: one of another type sends the record away
            if (static_cast<unsigned>(id) < static_cast<unsigned>(upto)) out[id] = value;
        });
    }

private:
    // Equality of two exact str, whose widths are the narrowest that hold them.
    static bool same_text(PyObject* a, PyObject* b) noexcept {
        const Py_ssize_t n = PyUnicode_GET_LENGTH(a);
        return n == PyUnicode_GET_LENGTH(b) && PyUnicode_KIND(a) == PyUnicode_KIND(b) &&
               std::memcmp(PyUnicode_DATA(a), PyUnicode_DATA(b), static_cast<std::size_t>(n) * PyUnicode_KIND(a)) == 0;
    }

    int id_of(PyObject* key) {
        // Fibonacci hashing: the top bits of the address times 2^64 / phi.
        Slot& slot = cache_[(reinterpret_cast<std::uintptr_t>(key) * 0x9E3779B97F4A7C15ull) >> (64 - cache_bits)];
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
    static constexpr int cache_bits = 8;
    static constexpr std::size_t cache_size = std::size_t{1} << cache_bits;
    PyObject* names_[field_count];
    Slot cache_[cache_size];
};

// -- Reading a plain record. ---------------------------------------------------------------------------

class Reader {
public:
    Reader(const State& st, Arena& arena) : arena_(arena), fields_(st) {}

    /// The known fields of a dict, by `Field`; only those before `upto` are read.
    void read(PyObject* dict, PyObject** out, Field upto = field_count) { fields_.read(dict, out, upto); }

    /// The text of a value: `str()` of a truthy value, else "", unstripped. Only values whose truth and text
    /// the interpreter finds without running Python code, or allocating anything the collector tracks.
    Piece text(PyObject* v) {
        if (PyUnicode_CheckExact(v)) {
            if (!PyUnicode_IS_COMPACT(v)) throw NotPlain{};  // never made by json or str(): not worth a path here
            return held(Piece::of(v));
        }
        if (v == Py_None || !truth(v)) return {};  // a missing field reads as None
        if (!plain_scalar(v)) throw NotPlain{};  // a container's text is its repr, which may call back
        return held(arena_.own(pyhost::str(v)));
    }
    /// The truth of a plain value.
    bool truth(PyObject* v) const {
        if (PyUnicode_CheckExact(v)) return PyUnicode_GET_LENGTH(v) > 0;
        if (v == Py_None) return false;
        if (plain_scalar(v) || plain_container(v)) return pyhost::truthy(v);
        throw NotPlain{};
    }
    /// An item that is read as text when it is a str: only an exact str.
    bool is_str(PyObject* v) const {
        if (PyUnicode_Check(v) && !PyUnicode_CheckExact(v)) throw NotPlain{};
        return PyUnicode_Check(v);
    }
    /// The stripped text. It is not looked at for line boundaries here: the thread that writes it does that.
    Piece stripped(PyObject* v) { return strip(text(v)); }

    /// The widest str width read since the last call.
    int take_kind() noexcept { return std::exchange(kind_, PyUnicode_1BYTE_KIND); }

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
    /// Reads the list `raw`; `include_source` adds each link's source to its line.
    void read(Reader& r, PyObject* raw, bool include_source) {
        include_source_ = include_source;
        links_.clear();
        if (!exact_list(raw)) return;
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(raw); ++i) {
            prefetch_ahead(raw, i);
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

    bool include_source_ = false;
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
        prefetch_ahead(blocks, i);
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

enum class Body : unsigned char { none, blocks, text };

/// One answer's section, read: everything it shows, as slices, and its display blocks when they come from
/// structured blocks (a text is walked when the section is written).
struct Section {
    void read(Reader& r, PyObject* answer) {
        body = Body::none;
        weight = 0;
        blocks.clear();
        PyObject* f[field_count];
        if (exact_dict(answer)) r.read(answer, f, f_asin);  // an answer's fields come next
        else std::fill(f, f + field_count, Py_None);  // read as an empty record
        products.read(r, f[f_product_links], false);
        summary = r.stripped(f[f_summary]);
        read_body(r, f);
        recommended.read(r, f[f_recommended], true);
        kind = r.take_kind();
    }

    // Its structured blocks when they give anything, else its parsed text.
    void read_body(Reader& r, PyObject* const* f) {
        const Piece full = r.stripped(f[f_text]);
        if (f[f_is_success] == Py_False && full.empty()) return;
        PyObject* given = exact_list(f[f_blocks]);
        if (given && PyList_GET_SIZE(given) > 0) {
            assemble_structured(r, given, blocks);
            weight = 16 * PyList_GET_SIZE(given);
            if (!blocks.empty()) {
                body = Body::blocks;
                return;
            }
            blocks.clear();
        }
        // A stripped, non-empty text always yields a block, so the whole-text block of last resort never arises.
        if (!full.empty()) {
            text = full;
            body = Body::text;
            weight += full.e - full.b;
        }
    }

    Links products, recommended;
    Piece summary, text;
    Assembly blocks;
    Body body = Body::none;
    int kind = PyUnicode_1BYTE_KIND;  // the widest str width of what was read
    Py_ssize_t weight = 0;   // a measure of the work of writing it
    Chunk chunk;             // the section, written
};

/// Writes sections, each into a chunk of its own width.
class Writing {
public:
    /// Starts a report with these texts.
    void start(const Literals& lit, const std::vector<Piece>& questions) noexcept {
        lit_ = &lit;
        questions_ = &questions;
        out_.clear();
    }
    std::size_t capacity() const noexcept { return out_.capacity(); }

    void write(Section& s, long long number) {
        const Literals& lit = *lit_;
        const Piece* question = number <= static_cast<long long>(questions_->size())
                                    ? &(*questions_)[static_cast<std::size_t>(number - 1)] : nullptr;
        out_.begin(std::max({s.kind, lit.kind, question ? int{question->kind} : PyUnicode_1BYTE_KIND}));
        with_writer(out_, [&](auto& w) { write(w, lit, s, number, question); });
        s.chunk = out_.end();
    }

private:
    template <class Out>
    void write(Writer<Out>& lines, const Literals& lit, const Section& s, long long number, const Piece* question) {
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
        if (!s.products.empty()) {
            sub_heading(lit.products_heading);
            s.products.render(lines);
        }
        // A text body always gives a line; blocks may not.
        const bool has_body = s.body == Body::text || (s.body == Body::blocks && s.blocks.renders());
        if (has_body || s.summary.empty()) {
            sub_heading(lit.answer_heading);
            if (s.body == Body::text) {
                write_text(lines, s.text, walk_);
            } else if (has_body) {
                s.blocks.render(lines, walk_.header);
            } else {
                Writer<Out>& out = lines.next();
                out.put(lit.fallback_open);
                write_number(out, number);
                out.put(lit.missing_answer_close);
            }
        }
        if (!s.recommended.empty()) {
            sub_heading(lit.asins_heading);
            s.recommended.render(lines);
        }
        if (!s.summary.empty()) {
            sub_heading(lit.summary_heading);
            lines.next().put(s.summary);
        }
    }

    const Literals* lit_ = nullptr;
    const std::vector<Piece>* questions_ = nullptr;
    Output out_;
    WalkSpace walk_;
};

/// What a report needs besides the record, kept from one report to the next: a batch of reports then neither
/// allocates its buffers again nor has the system provide their pages again.
struct Workspace {
    std::vector<Section> sections;
    Writing own, helpers;
    std::vector<Chunk> chunks;
    bool busy = false;

    /// Whether it is worth keeping after a report: not after a large one, so that one long report does not
    /// keep its memory for the rest of the process.
    bool keep() const noexcept {
        constexpr std::size_t most = 4 << 20;  // bytes of output
        return sections.size() <= 1024 && own.capacity() <= most && helpers.capacity() <= most;
    }
};

/// The writing of a report's sections, shared with the helper thread: each thread takes the next section
/// not yet taken, once it has been read, and writes it into a chunk of its own output.
class Job final : public Task {
public:
    Job(Workspace& ws, std::size_t n, const Literals& lit, const std::vector<Piece>& questions)
        : sections_(ws.sections.data()), n_(n), own_(ws.own), helpers_(ws.helpers) {
        own_.start(lit, questions);
        helpers_.start(lit, questions);
    }

    /// Sections [0, n) have been read.
    void read_up_to(std::size_t n) noexcept { ready_.store(n, std::memory_order_release); }
    /// No more sections are written.
    void stop() noexcept { stop_.store(true, std::memory_order_relaxed); }
    /// Writes the sections read and not yet taken, on the calling thread.
    void work_ready() { work(own_, false); }
    /// The calling thread's part, once every section has been read.
    void work() { work(own_, true); }
    bool failed() const noexcept { return failed_.load(std::memory_order_relaxed); }

    void run() noexcept override {
        try {
            work(helpers_, true);
        } catch (...) {  // out of memory: the calling thread finds out and raises
            failed_.store(true, std::memory_order_relaxed);
            stop();
        }
    }

private:
    // Takes sections one at a time; `wait` takes one that is still being read, and waits for it.
    void work(Writing& w, bool wait) {
        for (std::size_t i = next_.load(std::memory_order_relaxed);;) {
            if (i >= n_ || (!wait && i >= ready_.load(std::memory_order_acquire))) return;
            if (!next_.compare_exchange_weak(i, i + 1, std::memory_order_relaxed)) continue;
            while (ready_.load(std::memory_order_acquire) <= i) {
                if (stop_.load(std::memory_order_relaxed)) return;
                relax();
            }
            if (stop_.load(std::memory_order_relaxed)) return;
            w.write(sections_[i], static_cast<long long>(i) + 1);
            i = next_.load(std::memory_order_relaxed);
        }
    }

    Section* const sections_;
    const std::size_t n_;
    std::atomic<std::size_t> ready_{0}, next_{0};
    std::atomic<bool> stop_{false}, failed_{false};
    Writing &own_, &helpers_;
};

/// A report whose writing is expected to take this many characters or more is shared with the helper.
constexpr Py_ssize_t shared_weight = 48 * 1024;

/// Takes a job back from the helper, on every way out of the report.
class Settle {
public:
    explicit Settle(Job& job) noexcept : job_(job) {}
    ~Settle() {
        if (!helper_) return;
        if (std::uncaught_exceptions() > 0) job_.stop();
        helper_->settle(job_);
    }
    Settle(const Settle&) = delete;
    Settle& operator=(const Settle&) = delete;

    void offer(Helper* h) noexcept {
        if (h && h->offer(job_)) helper_ = h;
    }
    bool offered() const noexcept { return helper_ != nullptr; }
    void settle() noexcept {
        if (helper_) std::exchange(helper_, nullptr)->settle(job_);
    }

private:
    Job& job_;
    Helper* helper_ = nullptr;
};

/// The process's workspace while a report uses it, or one of the report's own when it is in use already
/// (which only a report that starts while another is being written could find).
class Lease {
public:
    Lease() {
        static Workspace* kept = nullptr;  // used with the GIL held
        kept_ = &kept;
        if (!kept) kept = new Workspace();
        if (kept->busy) {
            own_ = std::make_unique<Workspace>();
            ws_ = own_.get();
        } else {
            ws_ = kept;
        }
        ws_->busy = true;
    }
    ~Lease() {
        ws_->busy = false;
        if (ws_ == *kept_ && !ws_->keep()) {
            delete *kept_;
            *kept_ = nullptr;
        }
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;

    Workspace& get() const noexcept { return *ws_; }

private:
    Workspace** kept_;
    Workspace* ws_ = nullptr;
    std::unique_ptr<Workspace> own_;
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
        const auto n = static_cast<std::size_t>(PyList_GET_SIZE(answers));
        if (n == 0) return st.empty;
        const Literals literals(st);
        std::vector<Piece> questions;
        extract_questions(reader, f, questions);
        reader.take_kind();  // each question counts for the section that shows it
        Lease lease;
        Workspace& ws = lease.get();
        if (ws.sections.size() < n) ws.sections.resize(n);  // never moved from here on: the helper reads them
        Job job(ws, n, literals, questions);
        Settle helper(job);
        Py_ssize_t weight = 0;
        for (std::size_t i = 0; i < n; ++i) {
            prefetch_ahead(answers, static_cast<Py_ssize_t>(i));
            Section& section = ws.sections[i];
            section.read(reader, PyList_GET_ITEM(answers, static_cast<Py_ssize_t>(i)));
            job.read_up_to(i + 1);
            weight += section.weight;
            // Once the sections read so far promise a long report, the helper starts on them.
            if (!helper.offered() && i + 1 < n && weight / static_cast<Py_ssize_t>(i + 1) * static_cast<Py_ssize_t>(n) >= shared_weight)
                helper.offer(Helper::get());
            if (!helper.offered()) job.work_ready();  // written while what it shows is at hand
        }
        job.work();
        helper.settle();
        if (job.failed()) throw std::bad_alloc();
        ws.chunks.clear();
        for (std::size_t i = 0; i < n; ++i) ws.chunks.push_back(ws.sections[i].chunk);
        return join(ws.chunks.data(), n);
    } catch (const NotPlain&) {
        return {};
    }
}

}  // namespace rundown::fast
