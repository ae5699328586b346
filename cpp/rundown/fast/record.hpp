// Reading a run result record for the native report: which values are plain (read without running Python
// code), the fields of the record's dicts, and the text and truth of a value.
//
// No Python code runs while the native report reads and writes: dicts are walked with PyDict_Next, which
// compares no key; every value is judged by its exact type before it is read, and a value whose reading
// could run code (a subclass, an object of another type, a container where text is read, an int too long to
// have its digits written without a call that may fail) sends the call down the generic path (NotPlain)
// before anything is read of it. The only objects made are strs (of floats, and the report), which the
// collector does not track, so no collection can start; a failed allocation ends the report at once. So the
// record cannot change while it is read, and the borrowed references kept until a section is written stay valid.
#pragma once

#include "rundown/fast/text.hpp"
#include "rundown/state.hpp"

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace rundown::fast {

/// Thrown where the record holds a value whose reading could run Python code; nothing the caller can see
/// has happened then, and the generic path takes over.
struct NotPlain {};

/// An exact str whose characters the native path reads in place; false for any other type. A str subclass,
/// or an exact str whose characters are kept apart from the object (made by the deprecated C API, perhaps not
/// even ready), is NotPlain.
inline bool is_str(PyObject* v) {
    if (!PyUnicode_Check(v)) return false;
    if (!PyUnicode_CheckExact(v) || !PyUnicode_IS_COMPACT(v)) throw NotPlain{};
    return true;
}

inline PyObject* exact_dict(PyObject* v) {
    if (!PyDict_Check(v)) return nullptr;
    if (!PyDict_CheckExact(v)) throw NotPlain{};
    return v;
}

inline PyObject* exact_list(PyObject* v) {
    if (!PyList_Check(v)) return nullptr;
    if (!PyList_CheckExact(v)) throw NotPlain{};
    return v;
}

/// None, a bool, or an exact int or float: values that never equal a str and whose truth and text the
/// interpreter finds on its own.
inline bool plain_scalar(PyObject* v) noexcept {
    return v == Py_None || PyBool_Check(v) || PyLong_CheckExact(v) || PyFloat_CheckExact(v);
}

/// An exact list, tuple or dict: its truth is its length, and it never equals a str (the comparison returns
/// NotImplemented both ways without looking at the items).
inline bool plain_container(PyObject* v) noexcept {
    return PyList_CheckExact(v) || PyTuple_CheckExact(v) || PyDict_CheckExact(v);
}

// In this order: a block's fields, then an answer's, so that each of those reads only its first fields.
enum Field : int {
    f_type, f_text, f_level, f_cells, f_summary, f_is_success, f_blocks, f_product_links, f_recommended, f_asin,
    f_title, f_href, f_source, f_description, f_question, f_answers, f_questions, f_upload_payload, f_records,
    field_count
};

/// Reads the record: the known fields of its dicts, and the text and truth of its values. The key objects of
/// decoded JSON repeat from dict to dict, so each is compared with the field names once and then recognised
/// by its address, for the length of one report.
class Reader {
public:
    explicit Reader(const State& st);

    /// The values of `dict` by field, for the fields before `upto`; None where a field is missing.
    void read(PyObject* dict, PyObject** out, Field upto = field_count) {
        std::fill(out, out + upto, Py_None);
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        // Counted, so that the walk ends at the last entry rather than with one more call that finds none.
        for (Py_ssize_t left = PyDict_GET_SIZE(dict); left > 0 && PyDict_Next(dict, &pos, &key, &value); --left) {
            const int id = id_of(key);  // every key is looked at: one of another type sends the record away
            if (static_cast<unsigned>(id) < static_cast<unsigned>(upto)) out[id] = value;
        }
    }

    /// The text of a value: `str()` of a truthy value, else "", unstripped.
    [[gnu::always_inline]] Piece text(PyObject* v) {
        if (PyUnicode_CheckExact(v) && PyUnicode_IS_COMPACT(v)) return held(Piece::of(v));  // most values
        if (v == Py_None) return {};  // a missing field reads as None
        return other_text(v);
    }
    /// The stripped text.
    [[gnu::always_inline]] Piece stripped(PyObject* v) { return strip(text(v)); }
    /// The truth of a plain value.
    bool truth(PyObject* v) const {
        if (is_str(v)) return PyUnicode_GET_LENGTH(v) > 0;
        if (v == Py_None) return false;
        if (plain_scalar(v) || plain_container(v)) return pyhost::truthy(v);
        throw NotPlain{};
    }
    /// Checks that every cell of a structured row can be written from the list later (see cell_text), and
    /// counts the widths of its strs.
    void check_cells(PyObject* list) {
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
            PyObject* v = PyList_GET_ITEM(list, i);
            if (is_str(v)) {
                kind_ = std::max<int>(kind_, PyUnicode_KIND(v));
            } else if (PyLong_CheckExact(v)) {
                long_fits(v);
            } else if (!plain_scalar(v) && (!plain_container(v) || truth(v))) {
                throw NotPlain{};
            }
        }
    }

    /// The widest str width read since the last call.
    int take_kind() noexcept { return std::exchange(kind_, PyUnicode_1BYTE_KIND); }
    /// The texts made since the last call, which the caller keeps while it needs what was read.
    std::vector<pyhost::Ref> take_texts() noexcept { return std::exchange(texts_, {}); }

private:
    // The text of any value but a compact exact str and None.
    [[gnu::noinline]] Piece other_text(PyObject* v) {
        if (is_str(v)) return held(Piece::of(v));  // throws for a str that is not plain
        if (!truth(v)) return {};
        if (!plain_scalar(v)) throw NotPlain{};  // a container's text is its repr, which may call back
        if (PyLong_CheckExact(v)) long_fits(v);
        texts_.push_back(pyhost::str(v));
        return held(Piece::of(texts_.back().get()));
    }
    // An int whose str() cannot fail on the interpreter's limit of digits: one of 64 bits.
    static void long_fits(PyObject* v) {
        int overflow = 0;
        PyLong_AsLongLongAndOverflow(v, &overflow);
        if (overflow) throw NotPlain{};
    }
    Piece held(Piece p) noexcept {
        kind_ = std::max<int>(kind_, p.kind);
        return p;
    }
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
        const bool str = is_str(key);
        if (!str && !plain_scalar(key)) throw NotPlain{};
        int id = -1;
        if (str)
            for (int i = 0; i < field_count && id < 0; ++i)
                if (key == names_[i] || same_text(key, names_[i])) id = i;
        slot = {key, id};  // the key lives as long as the record, which outlives the report
        return id;
    }

    struct Slot {
        PyObject* key;  // null: empty
        int id;
    };
    static constexpr int cache_bits = 8;
    PyObject* names_[field_count];
    Slot cache_[std::size_t{1} << cache_bits];  // emptied by the constructor
    std::vector<pyhost::Ref> texts_;  // the strs that str() made for the section being read
    int kind_ = PyUnicode_1BYTE_KIND;
};

}  // namespace rundown::fast
