// The native report: the record's question texts, then each answer's section read and written in turn into
// one output, then the sections joined into the report's str. Everything it holds belongs to the call.
#include "rundown/fast/report.hpp"

#include "rundown/fast/section.hpp"

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

}  // namespace

Ref report(const Call& c, PyObject* data) {
    const State& st = c.state<State>();
    try {
        Reader reader(st);
        PyObject* f[field_count];
        reader.read(data, f);
        PyObject* answers = exact_list(f[f_answers]);
        if (!answers || PyList_GET_SIZE(answers) == 0) return st.empty;
        std::vector<Piece> questions;
        extract_questions(reader, f, questions);
        reader.take_kind();  // each question counts for the section that shows it
        const std::vector<Ref> question_texts = reader.take_texts();
        const Literals literals(st);
        Output out;
        std::vector<Chunk> chunks;
        chunks.reserve(static_cast<std::size_t>(PyList_GET_SIZE(answers)));
        Section section;
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(answers); ++i) {
            section.read(reader, PyList_GET_ITEM(answers, i));
            const auto q = static_cast<std::size_t>(i);
            chunks.push_back(section.write(out, literals, i + 1, q < questions.size() ? &questions[q] : nullptr));
            reader.take_texts();  // the texts of the section written
        }
        return join(chunks.data(), chunks.size());
    } catch (const NotPlain&) {
        return {};
    }
}

}  // namespace rundown::fast
