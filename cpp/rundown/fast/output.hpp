// The report's output: lines written into one buffer and tidied as they end, by the report's blank-line rule
// (rules.hpp): a line loses its trailing whitespace, a blank line that follows a blank line goes, and so do
// blank lines at the end. Text that holds line boundaries of its own is split at every str.splitlines()
// boundary on the way in. The result is the text that joining the raw lines and tidying them would give.
//
// A report is written a section at a time, each section as a chunk of its own width. Every section begins
// with a line that has text, so no run of blank lines reaches across two sections: the chunks, joined with an
// empty line between them, are the tidied report.
#pragma once

#include "rundown/text/text.hpp"
#include "rundown/rules.hpp"

#include <array>
#include <charconv>
#include <cstring>
#include <string_view>

// The writer's steps are a few instructions each and run for every piece of every line: always inlined.
#define TAVIK_INLINE [[gnu::always_inline]] inline

namespace rundown::fast {

using namespace text;

/// Which literals are ASCII: those are written as words.
inline constexpr auto ascii_literal = [] {
    std::array<bool, static_cast<std::size_t>(Lit::count)> ascii{};
    for (std::size_t l = 0; l < ascii.size(); ++l) {
        ascii[l] = true;
        for (const char c : literal_texts[l]) ascii[l] = ascii[l] && static_cast<unsigned char>(c) < 0x80;
    }
    return ascii;
}();

/// Checks for signals once per `interval` units of work (about a character each), so that a handler's
/// exception (KeyboardInterrupt) ends a long report promptly. The handler is Python code: whoever ticks holds
/// strong references to what it reads afterwards.
class Interrupts {
public:
    TAVIK_INLINE void tick(Py_ssize_t work) {
        if ((budget_ -= work) < 0) check();
    }
    /// `pin(context)` runs before each check: it holds what is borrowed at that moment.
    void before_check(void (*pin)(void*), void* context) noexcept {
        pin_ = pin;
        context_ = context;
    }

private:
    static constexpr Py_ssize_t interval = Py_ssize_t{1} << 20;
    [[gnu::noinline]] void check();
    Py_ssize_t budget_ = interval;
    void (*pin_)(void*) = nullptr;
    void* context_ = nullptr;
};

class Output;

/// A finished chunk: `len` characters of `kind` bytes each at byte `offset` of its output.
struct Chunk {
    const Output* out = nullptr;
    std::size_t offset = 0;
    Py_ssize_t len = 0;
    int kind = PyUnicode_1BYTE_KIND;
};

/// The buffer: finished chunks, one after another, then the chunk being written.
class Output {
public:
    /// `literals`: the report's literals as pieces, by Lit.
    explicit Output(const Piece* literals) noexcept : literals_(literals) {}
    ~Output();
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    /// Starts a chunk of characters of `kind`.
    void begin(int kind) noexcept;
    int kind() const noexcept { return kind_; }
    /// Ends the chunk being written; valid until the output is written to again or goes.
    Chunk end() noexcept;
    const void* at(std::size_t offset) const noexcept { return data_ + offset; }

    Interrupts interrupts;

private:
    template <class>
    friend class Writer;
    void grow(Py_ssize_t n);

    const Piece* literals_;
    char* data_ = nullptr;
    std::size_t used_ = 0, cap_ = 0;  // bytes: of the finished chunks, of the buffer
    // The chunk being written, from byte base_: its width, its length and room in characters.
    std::size_t base_ = 0;
    char* chunk_ = nullptr;  // data_ + base_
    int kind_ = PyUnicode_1BYTE_KIND;
    Py_ssize_t len_ = 0, room_ = 0;
    // The line being written: its separator from the line before starts at mark_, its text at start_.
    Py_ssize_t mark_ = 0, start_ = 0;
    Py_ssize_t blank_mark_ = 0;  // where the last blank line kept begins
    bool open_ = false;          // a line is being written
    bool kept_ = false;          // a line of the chunk was kept
    BlankRun run_;
};

/// The report made of `chunks` joined with an empty line between them, as one str whose width the kept
/// characters alone decide (whitespace cut at line ends may have been all that needed a wider one).
pyhost::Ref join(const Chunk* chunks, std::size_t n);

/// Writes lines into an output whose width holds every piece it is given: the lines of the report's rules,
/// a writer being both the sink and its current line.
template <class Out>
class Writer {
public:
    explicit Writer(Output& o) noexcept : o_(o) {}

    /// Ends the line being written and begins the next one.
    TAVIK_INLINE Writer& next() {
        if (o_.open_) end_line();
        begin_line();
        return *this;
    }
    TAVIK_INLINE void put(const Piece& p) {
        if (p.empty()) return;
        if (!p.clean && has_boundary(p)) return split(p);
        switch (p.kind) {
            case PyUnicode_1BYTE_KIND: return copy(static_cast<const Py_UCS1*>(p.data) + p.b, p.e - p.b);
            case PyUnicode_2BYTE_KIND:
                if constexpr (sizeof(Out) >= 2) return copy(static_cast<const Py_UCS2*>(p.data) + p.b, p.e - p.b);
                break;
            default:
                if constexpr (sizeof(Out) == 4) return copy(static_cast<const Py_UCS4*>(p.data) + p.b, p.e - p.b);
                break;
        }
        throw NotPlain{};  // a cell changed by a signal handler into a wider str than the chunk holds
    }
    TAVIK_INLINE void lit(Lit l) {
        if (ascii_literal[static_cast<int>(l)]) word(literal_texts[static_cast<int>(l)]);
        else put(o_.literals_[static_cast<int>(l)]);
    }
    /// ASCII text without line boundaries, such as a number or marks.
    TAVIK_INLINE void word(std::string_view s) {
        Out* d = room(static_cast<Py_ssize_t>(s.size()));
        for (std::size_t i = 0; i < s.size(); ++i) d[i] = static_cast<unsigned char>(s[i]);  // a few characters
        o_.len_ += static_cast<Py_ssize_t>(s.size());
    }
    /// Decimal digits of `n`.
    void number(long long n) {
        char digits[24];
        const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, n);
        word({digits, static_cast<std::size_t>(end - digits)});
    }
    static bool empty(const Piece& p) noexcept { return p.empty(); }

    /// Ends the last line and drops a blank line at the end: called once, as the chunk ends.
    void finish() noexcept {
        if (o_.open_) end_line();
        if (o_.run_.after_blank()) o_.len_ = o_.blank_mark_;
    }

private:
    Out* buffer() const noexcept { return reinterpret_cast<Out*>(o_.chunk_); }
    TAVIK_INLINE Out* room(Py_ssize_t n) {
        if (o_.len_ + n > o_.room_) o_.grow(n);
        return buffer() + o_.len_;
    }

    TAVIK_INLINE void begin_line() {
        o_.mark_ = o_.len_;
        if (o_.kept_) *room(1) = '\n', ++o_.len_;
        o_.start_ = o_.len_;
        o_.open_ = true;
    }
    TAVIK_INLINE void end_line() noexcept {
        const Out* p = buffer();
        Py_ssize_t len = o_.len_;
        while (len > o_.start_ && is_space(p[len - 1])) --len;
        const bool blank = len == o_.start_;
        o_.open_ = false;
        if (!o_.run_.keep(blank)) {
            o_.len_ = o_.mark_;  // a blank line after a blank line goes, with its separator
            return;
        }
        if (blank) o_.blank_mark_ = o_.mark_;
        o_.len_ = len;
        o_.kept_ = true;
    }

    template <class In>
    TAVIK_INLINE void copy(const In* s, Py_ssize_t n) {
        Out* d = room(n);
        if (n <= 8)  // most pieces are short: a call of memcpy costs more (5% of a 100 KB answer)
            for (Py_ssize_t i = 0; i < n; ++i) d[i] = static_cast<Out>(s[i]);
        else if constexpr (sizeof(In) == sizeof(Out))
            std::memcpy(d, s, static_cast<std::size_t>(n) * sizeof(Out));
        else
            for (Py_ssize_t i = 0; i < n; ++i) d[i] = static_cast<Out>(s[i]);  // fits: the output is wide enough
        o_.len_ += n;
    }

    // Whether a piece not looked at yet holds a line boundary: a small function of its own, as most do not.
    // Such pieces are slices of compact str objects, whose header before the buffer a search may read.
    [[gnu::noinline]] static bool has_boundary(const Piece& p) noexcept {
        return with_chars(p, [&](const auto* s) { return find_boundary<true>(s, p.b, p.e) != p.e; });
    }
    // A piece with line boundaries of its own, a line at a time. A "\r\n" is one boundary; such pieces are
    // stripped texts and lines, which never end in whitespace, so none is cut in two between pieces.
    [[gnu::noinline]] void split(const Piece& p) {
        with_chars(p, [&](const auto* s) { split(s, p.b, p.e); });
    }
    template <class In>
    void split(const In* s, Py_ssize_t b, Py_ssize_t e) {
        for (;;) {
            const Py_ssize_t k = find_boundary(s, b, e);
            copy(s + b, k - b);
            o_.interrupts.tick(k - b + 1);
            if (k == e) return;
            next();
            b = k + ((s[k] == '\r' && k + 1 < e && s[k + 1] == '\n') ? 2 : 1);
        }
    }

    Output& o_;
};

/// Calls `f` with a writer of the output's width.
template <class F>
decltype(auto) with_writer(Output& o, F&& f) {
    switch (o.kind()) {
        case PyUnicode_1BYTE_KIND: {
            Writer<Py_UCS1> w(o);
            return f(w);
        }
        case PyUnicode_2BYTE_KIND: {
            Writer<Py_UCS2> w(o);
            return f(w);
        }
        default: {
            Writer<Py_UCS4> w(o);
            return f(w);
        }
    }
}

}  // namespace rundown::fast
