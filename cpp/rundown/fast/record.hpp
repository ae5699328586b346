// Reading a run result record for the native report: which values are plain (read without running Python
// code), the fields of the record's dicts, the text and truth of a value, and one answer's section read into
// slices and structured blocks.
//
// No Python code runs while the native report reads: dicts are walked with PyDict_Next, which compares no key;
// every value is judged by its exact type before it is read, and a value whose reading could run code (a
// subclass, an object of another type, a container where text is read, an int too long to have its digits
// written without a call that may fail) sends the call down the generic path (NotPlain) before anything is
// read of it. The only objects made are strs (of ints and floats, and the report), which the collector does
// not track, so no collection can start.
//
// Python code does run where the report checks for signals (a handler), between the reading of a section
// and its writing or within either. So at each check everything a section keeps of the record is held (its
// slices' strs: Section::pin) and the lists of cells it reads again as it writes are held from the start
// (Reader::cells); the three lists of an answer are held before they are walked. Nothing else borrowed
// outlives a check: dicts are read into fields and let go, and lists are walked with their size read again.
#pragma once

#include "rundown/fast/output.hpp"
#include "rundown/state.hpp"

#include <cstdint>
#include <vector>

namespace rundown::fast {

/// An exact str whose characters the native path reads in place; false for any other type. A str subclass,
/// or an exact str whose characters are kept apart from the object (made by the deprecated C API), is NotPlain.
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
/// An exact list, tuple or dict: its truth is its length, and it never equals a str.
inline bool plain_container(PyObject* v) noexcept {
    return PyList_CheckExact(v) || PyTuple_CheckExact(v) || PyDict_CheckExact(v);
}

/// The stripped text of a cell value, read as a row is written: `str()` of a truthy plain value, else
/// nothing; `held` keeps a str made for it.
Piece cell_text(PyObject* v, pyhost::Ref& held);

/// Reads the record: the known fields of its dicts, and the text and truth of its values.
class Reader {
public:
    explicit Reader(Interrupts& interrupts) : interrupts_(interrupts), keys_((std::size_t{1} << key_bits) + probes) {}

    /// The values of `dict` by field, for the fields before `upto`; None where a field is missing. Borrowed:
    /// read them before the next check for signals. A dict of more keys than a record's ever has goes to the
    /// generic path, whose lookups cost the same however many keys it carries.
    void read(PyObject* dict, PyObject** out, Field upto = field_count);

    /// The text of a value: `str()` of a truthy value, else "", unstripped.
    [[gnu::always_inline]] Piece text(PyObject* v) {
        if (PyUnicode_CheckExact(v) && PyUnicode_IS_COMPACT(v)) return widest(Piece::of(v));  // most values
        if (v == Py_None) return {};  // a missing field reads as None
        return other_text(v);
    }
    /// The stripped text.
    [[gnu::always_inline]] Piece stripped(PyObject* v) { return strip(text(v)); }
    /// The truth of a plain value.
    bool truth(PyObject* v) const;
    /// A list of cells read again as its row is written: held, and checked to be plain.
    PyObject* cells(PyObject* list);
    /// Keeps `v` alive until the section is written.
    void hold(PyObject* v) {
        if (v) held_.push_back(pyhost::Ref::borrow(v));
    }

    /// The widest str width read since the last call.
    int take_kind() noexcept { return std::exchange(kind_, PyUnicode_1BYTE_KIND); }
    /// What is held now stays until the report ends; what is held later goes with each section.
    void keep_held() noexcept { kept_ = held_.size(); }
    /// Lets go of what a section held, once it is written.
    void release() { held_.resize(kept_); }
    Interrupts& interrupts() noexcept { return interrupts_; }

private:
    [[gnu::noinline]] Piece other_text(PyObject* v);
    Piece widest(Piece p) noexcept {
        kind_ = std::max<int>(kind_, p.kind);
        return p;
    }
    [[gnu::always_inline]] int field_of(PyObject* key) {
        // Fibonacci hashing: the top bits of the address times 2^64 / phi.
        const std::size_t at = (reinterpret_cast<std::uintptr_t>(key) * 0x9E3779B97F4A7C15ull) >> (64 - key_bits);
        return keys_[at].key == key ? keys_[at].field : new_key(at, key);
    }
    [[gnu::noinline]] int new_key(std::size_t at, PyObject* key);

    // The key objects of decoded JSON repeat from dict to dict: each is compared with the field names once,
    // then known by its address for the rest of the report (8% of the realistic report). A key that finds its
    // slot taken tries the next few, so that two keys in use never take turns at one slot.
    struct Slot {
        PyObject* key = nullptr;
        int field = -1;
    };
    static constexpr int key_bits = 8, probes = 4;

    Interrupts& interrupts_;
    std::vector<Slot> keys_;
    std::vector<pyhost::Ref> held_;
    std::size_t kept_ = 0;
    int kind_ = PyUnicode_1BYTE_KIND;
};

/// A table row whose cells are read when they are written, so that a wide row is never copied: a pipe row
/// of a line, or a structured row's list of cells (held by the reader).
struct Row {
    Piece line;
    PyObject* list = nullptr;
    std::size_t width = 0;          // its number of cells
    const Piece* cells = nullptr;  // a short line's cells, split already while their holder keeps them
};

/// The structured blocks of an answer that show, as read: the grouping into lists and tables is done as
/// they are written.
struct Block {
    enum class Type : unsigned char { other, heading, paragraph, list_item, table_row };
    Block(Type t, const Piece& p) noexcept : type(t), text(p) {}

    Type type;
    long long level = 2;
    Piece text;
    Row row;  // a table row's cells; none when it has no cells
};

/// One answer's section, read: everything it shows, as slices, with its structured blocks or its text.
struct Section {
    struct Link {
        bool is_str;
        Piece text;  // a str item
        Piece asin, title, href, source, description;
    };
    enum class Body : unsigned char { none, blocks, text };

    /// Reads the answer record `answer`; what was read before is forgotten.
    void read(Reader& r, PyObject* answer);
    /// Holds the strs of every slice kept.
    void pin(Reader& r) const;

    std::vector<Link> products, recommended;
    Piece summary, text;
    std::vector<Block> blocks;
    Body body = Body::none;

private:
    void read_links(Reader& r, PyObject* raw, bool include_source, std::vector<Link>& out);
    void read_blocks(Reader& r, PyObject* list);
};

}  // namespace rundown::fast
