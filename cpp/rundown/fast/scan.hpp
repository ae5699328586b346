// Searches over a string buffer that look at 16 bytes at a time (SSE2, with a plain loop elsewhere and for
// the 4-byte width): the next line end of a text walk, the next "|", the next str.splitlines() boundary.
#pragma once

#include <Python.h>

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace rundown::fast {

namespace detail {

#if defined(__SSE2__)
template <class T>
inline __m128i splat(unsigned v) noexcept {
    if constexpr (sizeof(T) == 1) return _mm_set1_epi8(static_cast<char>(v));
    else return _mm_set1_epi16(static_cast<short>(v));
}
template <class T>
inline __m128i eq(__m128i a, __m128i b) noexcept {
    if constexpr (sizeof(T) == 1) return _mm_cmpeq_epi8(a, b);
    else return _mm_cmpeq_epi16(a, b);
}
// Lanes at most `v`, unsigned.
template <class T>
inline __m128i at_most(__m128i a, unsigned v) noexcept {
    if constexpr (sizeof(T) == 1) return _mm_cmpeq_epi8(_mm_subs_epu8(a, splat<T>(v)), _mm_setzero_si128());
    else return _mm_cmpeq_epi16(_mm_subs_epu16(a, splat<T>(v)), _mm_setzero_si128());
}
#endif

// The first i in [b, e) with exact(p[i]); `maybe` is a vector test true at least wherever exact is. The
// last stretch shorter than a vector is read with one load that ends at `e` (when the buffer holds a whole
// vector before `e`, or when `Padded` says that the 16 bytes before the buffer can be read, as before the
// buffer of a compact str, which follows the string's header), so a short line costs one or two loads and no
// character loop.
template <bool Padded, class T, class Maybe, class Exact>
inline Py_ssize_t find(const T* p, Py_ssize_t b, Py_ssize_t e, Maybe maybe, Exact exact) noexcept {
#if defined(__SSE2__)
    if constexpr (sizeof(T) <= 2) {
        constexpr Py_ssize_t lanes = 16 / sizeof(T);
        auto first_in = [&](Py_ssize_t at, unsigned mask) -> Py_ssize_t {
            while (mask) {
                const Py_ssize_t i = at + __builtin_ctz(mask) / static_cast<int>(sizeof(T));
                if (exact(p[i])) return i;
                mask &= ~((sizeof(T) == 1 ? 1u : 3u) << ((i - at) * static_cast<Py_ssize_t>(sizeof(T))));
            }
            return -1;
        };
        for (; b + lanes <= e; b += lanes) {
            const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(maybe(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + b)))));
            if (mask)
                if (const Py_ssize_t i = first_in(b, mask); i >= 0) return i;
        }
        if (b < e && (Padded || e >= lanes)) {
            const Py_ssize_t at = e - lanes;  // overlaps what was searched already: those lanes are masked off
            unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(maybe(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at)))));
            mask &= ~0u << ((b - at) * static_cast<Py_ssize_t>(sizeof(T)));
            const Py_ssize_t i = first_in(at, mask);
            return i >= 0 ? i : e;
        }
    }
#else
    (void)maybe;
#endif
    while (b < e && !exact(p[b])) ++b;
    return b;
}

}  // namespace detail

namespace detail {

#if defined(__SSE2__)
// Lanes that may be a str.splitlines() boundary: U+000A to U+001E (a few controls more than needed), U+0085,
// and in the 2-byte width U+2028 and U+2029.
template <class T>
inline __m128i maybe_boundary(__m128i v) noexcept {
    const __m128i low = sizeof(T) == 1 ? _mm_sub_epi8(v, splat<T>(0x0A)) : _mm_sub_epi16(v, splat<T>(0x0A));
    __m128i m = _mm_or_si128(at_most<T>(low, 0x1E - 0x0A), eq<T>(v, splat<T>(0x85)));
    if constexpr (sizeof(T) == 2) m = _mm_or_si128(m, eq<T>(_mm_or_si128(v, splat<T>(1)), splat<T>(0x2029)));
    return m;
}
#endif

inline bool is_boundary(Py_UCS4 c) noexcept {
    if (c > 0x1E) return c == 0x85 || (c | 1) == 0x2029;  // most characters take this test and the next
    return c >= 0x1C || (c >= 0x0A && c <= 0x0D);
}

}  // namespace detail

/// The first str.splitlines() boundary or "|" in [b, e), or e: where a line of a text walk ends, or what it
/// holds that matters.
template <class T>
Py_ssize_t find_line_stop(const T* p, Py_ssize_t b, Py_ssize_t e) noexcept {
    return detail::find<false>(
        p, b, e,
        [](auto v) {
#if defined(__SSE2__)
            return _mm_or_si128(detail::maybe_boundary<T>(v), detail::eq<T>(v, detail::splat<T>('|')));
#else
            return v;
#endif
        },
        [](Py_UCS4 c) { return c == '|' || detail::is_boundary(c); });
}

/// The first str.splitlines() boundary in [b, e), or e; `Padded` as for detail::find.
template <bool Padded = false, class T>
Py_ssize_t find_boundary(const T* p, Py_ssize_t b, Py_ssize_t e) noexcept {
    return detail::find<Padded>(
        p, b, e,
        [](auto v) {
#if defined(__SSE2__)
            return detail::maybe_boundary<T>(v);
#else
            return v;
#endif
        },
        [](Py_UCS4 c) { return detail::is_boundary(c); });
}

/// The first `c` (ASCII) in [b, e), or e.
template <class T>
Py_ssize_t find_ascii(const T* p, Py_ssize_t b, Py_ssize_t e, unsigned char c) noexcept {
    return detail::find<false>(
        p, b, e,
        [c](auto v) {
#if defined(__SSE2__)
            return detail::eq<T>(v, detail::splat<T>(c));
#else
            (void)c;
            return v;
#endif
        },
        [c](Py_UCS4 x) { return x == c; });
}

/// Every `c` (ASCII) in a short stretch [b, e) at once: bit k of the result is set for byte k of the stretch
/// when its character is `c` (both bytes of a 2-byte character). Only for stretches of 1 or 2 bytes a
/// character, at most 64 bytes long, whose end lies 16 bytes or more into the buffer (`fits_mask`).
#if defined(__SSE2__)
template <class T>
inline bool fits_mask(Py_ssize_t b, Py_ssize_t e) noexcept {
    static_assert(sizeof(T) <= 2);
    return (e - b) * Py_ssize_t{sizeof(T)} <= 64 && e * Py_ssize_t{sizeof(T)} >= 16;
}

template <class T>
inline std::uint64_t ascii_mask(const T* p, Py_ssize_t b, Py_ssize_t e, unsigned char c) noexcept {
    const char* s = reinterpret_cast<const char*>(p + b);
    const Py_ssize_t n = (e - b) * Py_ssize_t{sizeof(T)};
    const __m128i needle = detail::splat<T>(c);
    auto bits = [&](Py_ssize_t at) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + at));
        return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(detail::eq<T>(v, needle))));
    };
    std::uint64_t m = 0;
    Py_ssize_t at = 0;
    for (; at + 16 <= n; at += 16) m |= bits(at) << at;
    if (at < n) m |= (bits(n - 16) >> (16 - (n - at))) << at;  // the last load ends at e: see fits_mask
    return m;
}
#endif

}  // namespace rundown::fast
