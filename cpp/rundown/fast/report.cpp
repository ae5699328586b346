// The native report: the record's question texts, then each answer's section read and written in turn into
// one output, then the sections joined into the report's str. Everything it holds belongs to the call.
#include "rundown/fast/report.hpp"

#include "rundown/fast/walk.hpp"

namespace rundown::fast {

namespace {

// The non-empty texts of a question list, in order.
void normalize_questions(Reader& r, PyObject* raw, std::vector<Piece>& out) {
    if (!exact_list(raw)) return;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(raw); ++i) {
        PyObject* item = PyList_GET_ITEM(raw, i);
        Piece text;
        if (is_str(item)) {
            text = r.stripped(item);
        } else if (exact_dict(item)) {
            PyObject* f[f_answers];
            r.read(item, f, f_answers);
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

template <class Out>
void write_section(Writer<Out>& lines, Interrupts& interrupts, const Section& s, long long number, const Piece* question) {
    auto links = [&](const std::vector<Section::Link>& list, bool include_source) {
        for (const Section::Link& l : list) {
            if (l.is_str) list_line(lines, l.text);
            else link_lines(lines, l.asin, l.title, l.href, l.source, l.description, include_source);
        }
    };
    BlockLines<Out> blocks(lines, interrupts);
    const bool has_body =
        s.body == Section::Body::text || (s.body == Section::Body::blocks && blocks_render(s, interrupts));
    const SectionParts parts{!s.products.empty(), [&] { links(s.products, false); },
                             has_body,            [&] {
                                 if (s.body == Section::Body::text) write_text(blocks, s.text, interrupts);
                                 else write_blocks(blocks, s);
                             },
                             !s.recommended.empty(), [&] { links(s.recommended, true); },
                             !s.summary.empty()};
    section_lines(lines, number, question, parts, s.summary);
}

}  // namespace

pyhost::Ref report(const pyhost::Call& c, PyObject* data) {
    const State& st = c.state<State>();
    try {
        Piece literals[int(Lit::count)];
        int literal_kind = PyUnicode_1BYTE_KIND;
        for (int l = 0; l < int(Lit::count); ++l) {
            literals[l] = Piece::of(st.literals[l].get());
            literals[l].clean = true;  // no literal holds a line boundary
            literal_kind = std::max<int>(literal_kind, literals[l].kind);
        }
        Output out(literals);
        Reader reader(out.interrupts);
        PyObject* f[field_count];
        reader.read(data, f);
        const pyhost::Ref answers = pyhost::Ref::borrow(exact_list(f[f_answers]));
        if (!answers || PyList_GET_SIZE(answers.get()) == 0) return st.empty;
        std::vector<Piece> questions;
        extract_questions(reader, f, questions);
        for (const Piece& q : questions) reader.hold(q.owner);
        reader.keep_held();
        std::vector<Chunk> chunks;
        Section section;
        struct Pin {
            Section& section;
            Reader& reader;
        } pin{section, reader};
        out.interrupts.before_check([](void* p) {
            auto* held = static_cast<Pin*>(p);
            held->section.pin(held->reader);
        }, &pin);
        // The size is read again at each step: a signal handler may change the list.
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(answers.get()); ++i) {
            section.read(reader, pyhost::Ref::borrow(PyList_GET_ITEM(answers.get(), i)).get());
            const auto q = static_cast<std::size_t>(i);
            const Piece* question = q < questions.size() ? &questions[q] : nullptr;
            out.begin(std::max({reader.take_kind(), literal_kind, question ? int{question->kind} : PyUnicode_1BYTE_KIND}));
            with_writer(out, [&](auto& w) { write_section(w, out.interrupts, section, i + 1, question); });
            chunks.push_back(out.end());
            reader.release();
            out.interrupts.tick(64);
        }
        return join(chunks.data(), chunks.size());
    } catch (const NotPlain&) {
        return {};
    }
}

}  // namespace rundown::fast
