// One answer's section of the native report: read from the record into slices and display blocks, then
// written into the output. Only the section being written exists at a time.
#pragma once

#include "rundown/fast/blocks.hpp"
#include "rundown/fast/record.hpp"

#include <vector>

namespace rundown::fast {

/// The lines of one link list.
class Links {
public:
    /// Reads the list `raw`; `include_source` adds each link's source to its line.
    void read(Reader& r, PyObject* raw, bool include_source);
    bool empty() const noexcept { return links_.empty(); }
    template <class Out>
    void render(Writer<Out>& lines) const;

private:
    struct Link {
        bool is_str;
        Piece text;  // a str item
        Piece asin, title, href, source, description;
    };
    bool shows_source(const Link& l) const noexcept { return include_source_ && !l.source.empty(); }
    bool label_empty(const Link& l) const noexcept { return l.asin.empty() && l.title.empty() && !shows_source(l); }

    bool include_source_ = false;
    std::vector<Link> links_;
};

/// The texts that every section writes, looked at once per report.
struct Literals {
    explicit Literals(const State& st);
    Piece heading_open, heading_colon, fallback_open, fallback_close, missing_answer_close, products_heading,
        answer_heading, asins_heading, summary_heading;
    int kind = PyUnicode_1BYTE_KIND;  // the widest of them
};

/// One answer's section, read: everything it shows, as slices, and its display blocks when they come from
/// structured blocks (a text is walked when the section is written).
class Section {
public:
    /// Reads the answer record `answer`; what was read before is forgotten.
    void read(Reader& r, PyObject* answer);
    /// Writes the section numbered `number` as a chunk of `out`; `question` is its question, or null for the
    /// fallback title.
    Chunk write(Output& out, const Literals& lit, long long number, const Piece* question);

private:
    enum class Body : unsigned char { none, blocks, text };
    void read_body(Reader& r, PyObject* const* f);
    void assemble(Reader& r, PyObject* blocks);
    template <class Out>
    void write(Writer<Out>& lines, const Literals& lit, long long number, const Piece* question);

    Links products_, recommended_;
    Piece summary_, text_;
    Assembly blocks_;
    std::vector<ParagraphRun> paragraph_;  // room for the text walk
    Body body_ = Body::none;
    int kind_ = PyUnicode_1BYTE_KIND;  // the widest str width of what was read
};

}  // namespace rundown::fast
