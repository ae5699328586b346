// The report's output: lines written into one buffer and tidied as they are written. Each line loses its
// trailing whitespace when it ends, a run of blank lines becomes one empty line, blank lines at the end go,
// and text that holds line boundaries of its own is split at every str.splitlines() boundary on the way in.
// The result is the same as joining the raw lines and tidying them afterwards, without a second pass.
//
// A report is written a section at a time, each section as a chunk of its own width. Every section begins
// with a line that has text, so no run of blank lines reaches across two sections: the chunks, joined with
// an empty line between them, are the tidied report.
#pragma once

#include "rundown/fast/text.hpp"

#include <cstdint>
#include <cstring>

// The writer's steps are a few instructions each and run for every piece of every line: always inlined.
#define TAVIK_INLINE [[gnu::always_inline]] inline

namespace rundown::fast {

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
    Output() = default;
    ~Output();
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    /// Starts a chunk of characters of `kind`, with nothing written before it.
    void begin(int kind) noexcept;
    int kind() const noexcept { return kind_; }
    /// Ends the chunk being written; valid until the output is written to again or goes.
    Chunk end() noexcept;

    const void* at(std::size_t offset) const noexcept { return data_ + offset; }

private:
    template <class>
    friend class Writer;
    void grow(Py_ssize_t n);

    char* data_ = nullptr;
    std::size_t used_ = 0, cap_ = 0;  // bytes: of the finished chunks, of the buffer
    // The chunk being written, from byte base_: its width, its length and room in characters.
    std::size_t base_ = 0;
    char* chunk_ = nullptr;  // data_ + base_
    int kind_ = PyUnicode_1BYTE_KIND;
    Py_ssize_t len_ = 0, room_ = 0;
    // The line being written: its separator from the lines before starts at mark_, its text at start_.
    Py_ssize_t mark_ = 0, start_ = 0;
    bool any_ = false;      // a line with text was kept
    bool pending_ = false;  // an empty line is due before the next line with text
    bool blank_ = false;    // the line that ended last was blank
    bool started_ = false;  // the chunk has a line
};

/// The report made of `chunks` joined with an empty line between them, as one str whose width the kept
/// characters alone decide (whitespace cut at line ends may have been all that needed a wider one).
pyhost::Ref join(const Chunk* chunks, std::size_t n);

/// Writes lines into an output whose width holds every piece it is given.
template <class Out>
class Writer {
public:
    explicit Writer(Output& o) noexcept : o_(o) {}

    /// Begins the next line of the section: "\n" between the lines of a section.
    TAVIK_INLINE Writer& next() {
        if (o_.started_) line_break();
        o_.started_ = true;
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
    }
    /// ASCII text without line boundaries, such as a number or a mark.
    TAVIK_INLINE void word(const char* s, std::size_t n) {
        Out* d = room(static_cast<Py_ssize_t>(n));
        for (std::size_t i = 0; i < n; ++i) d[i] = static_cast<unsigned char>(s[i]);  // a few characters
        o_.len_ += static_cast<Py_ssize_t>(n);
    }
    /// A raw line boundary: the line ends, the next one begins.
    TAVIK_INLINE void line_break() {
        const Py_ssize_t len = o_.len_;
        if (len > o_.start_ && !is_space(buffer()[len - 1])) {  // most lines: text, and no whitespace at the end
            o_.any_ = true;
            o_.pending_ = o_.blank_ = false;
            o_.mark_ = len;
            *room(1) = '\n';
            o_.start_ = o_.len_ = len + 1;
            return;
        }
        end_line();
        begin_line();
    }

    /// Ends the last line: called once, before the chunk ends.
    TAVIK_INLINE void end_line() noexcept {
        const Out* p = buffer();
        Py_ssize_t len = o_.len_;
        while (len > o_.start_ && is_space(p[len - 1])) --len;
        if (len == o_.start_) {
            o_.len_ = o_.mark_;  // a blank line keeps nothing of its own
            if (!o_.blank_) o_.pending_ = true;
            o_.blank_ = true;
        } else {
            o_.len_ = len;
            o_.any_ = true;
            o_.pending_ = o_.blank_ = false;
        }
    }

private:
    Out* buffer() const noexcept { return reinterpret_cast<Out*>(o_.chunk_); }
    TAVIK_INLINE Out* room(Py_ssize_t n) {
        if (o_.len_ + n > o_.room_) o_.grow(n);
        return buffer() + o_.len_;
    }

    // The separator that the line gets if it keeps any text is written in advance: the empty line of a
    // blank run before it (a run before the first line counts too), then "\n" when a line precedes it.
    TAVIK_INLINE void begin_line() {
        o_.mark_ = o_.len_;
        Out* d = room(2);
        Py_ssize_t n = 0;
        if (o_.pending_) d[n++] = '\n';
        if (o_.any_) d[n++] = '\n';
        o_.len_ += n;
        o_.start_ = o_.len_;
    }

    template <class In>
    TAVIK_INLINE void copy(const In* s, Py_ssize_t n) {
        Out* d = room(n);
        if constexpr (sizeof(In) == sizeof(Out))
            copy_bytes(reinterpret_cast<char*>(d), reinterpret_cast<const char*>(s), n * Py_ssize_t{sizeof(Out)});
        else if constexpr (sizeof(In) == 1 && sizeof(Out) == 2)
            widen_copy(d, s, n);
        else
            for (Py_ssize_t i = 0; i < n; ++i) d[i] = static_cast<Out>(s[i]);  // fits: the output is wide enough
        o_.len_ += n;
    }

    // Short copies are most of them: done with two moves of a size class that overlap in the middle, never
    // touching a byte outside either range.
    static void copy_bytes(char* d, const char* s, Py_ssize_t n) noexcept {
        auto move = [&](auto word, Py_ssize_t at) {
            std::memcpy(&word, s + at, sizeof word);
            std::memcpy(d + at, &word, sizeof word);
        };
        if (n >= 16) {
            if (n > 64) {
                std::memcpy(d, s, static_cast<std::size_t>(n));
                return;
            }
            for (Py_ssize_t at = 0; at + 16 < n; at += 16) move(block16{}, at);
            move(block16{}, n - 16);
        } else if (n >= 8) {
            move(std::uint64_t{}, 0);
            move(std::uint64_t{}, n - 8);
        } else if (n >= 4) {
            move(std::uint32_t{}, 0);
            move(std::uint32_t{}, n - 4);
        } else {
            for (Py_ssize_t i = 0; i < n; ++i) d[i] = s[i];
        }
    }
    struct block16 {
        std::uint64_t lo, hi;
    };

    // One byte per character to two, in the same manner.
    static void widen_copy(Py_UCS2* d, const Py_UCS1* s, Py_ssize_t n) noexcept {
#if defined(__SSE2__)
        const __m128i zero = _mm_setzero_si128();
        auto wide16 = [&](Py_ssize_t at) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + at));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + at), _mm_unpacklo_epi8(v, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + at + 8), _mm_unpackhi_epi8(v, zero));
        };
        auto wide8 = [&](Py_ssize_t at) {
            const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + at));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + at), _mm_unpacklo_epi8(v, zero));
        };
        if (n >= 16) {
            for (Py_ssize_t at = 0; at + 16 < n; at += 16) wide16(at);
            wide16(n - 16);
            return;
        }
        if (n >= 8) {
            wide8(0);
            wide8(n - 8);
            return;
        }
        if (n >= 4) {
            auto wide4 = [&](Py_ssize_t at) {
                std::uint32_t four;
                std::memcpy(&four, s + at, 4);
                const __m128i v = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(four)), zero);
                _mm_storel_epi64(reinterpret_cast<__m128i*>(d + at), v);
            };
            wide4(0);
            wide4(n - 4);
            return;
        }
#endif
        for (Py_ssize_t i = 0; i < n; ++i) d[i] = s[i];
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
            if (k == e) return;
            line_break();
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
