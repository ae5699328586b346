// The entries of an exact dict, walked in their order without a call per entry. On CPython 3.11 the entry
// table of a dict that keeps its own values is read in place; its layout there is that of the interpreter's
// dictobject.c. Elsewhere, and for a split table (an instance's dict), PyDict_Next does the walk.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>

#if PY_VERSION_HEX >= 0x030B0000 && PY_VERSION_HEX < 0x030C0000
#define PYHOST_DICT_ENTRIES 1
#endif

namespace pyhost {

namespace detail {

#ifdef PYHOST_DICT_ENTRIES
// The head of a dict's keys object; the index table follows it, then the entries.
struct DictKeys {
    Py_ssize_t refcnt;
    std::uint8_t log2_size, log2_index_bytes, kind;
    std::uint32_t version;
    Py_ssize_t usable, nentries;
};
static_assert(sizeof(DictKeys) == 4 * sizeof(Py_ssize_t));
enum : std::uint8_t { keys_general = 0 };
struct GeneralEntry {
    Py_hash_t hash;
    PyObject *key, *value;
};
struct StrEntry {
    PyObject *key, *value;
};
#endif

}  // namespace detail

/// Calls `f(key, value)` for each entry of `dict` in iteration order, with borrowed references. `f` must not
/// change the dict.
template <class F>
[[gnu::always_inline]] inline void for_each_entry(PyObject* dict, F&& f) {
#ifdef PYHOST_DICT_ENTRIES
    auto* d = reinterpret_cast<PyDictObject*>(dict);
    if (!d->ma_values) {
        const auto* keys = reinterpret_cast<const detail::DictKeys*>(d->ma_keys);
        const char* entries =
            reinterpret_cast<const char*>(keys + 1) + (std::size_t{1} << keys->log2_index_bytes);
        const Py_ssize_t n = keys->nentries;
        auto walk = [&](const auto* e) {
            for (Py_ssize_t i = 0; i < n; ++i)
                if (e[i].value) f(e[i].key, e[i].value);  // no value: a deleted entry
        };
        if (keys->kind == detail::keys_general) walk(reinterpret_cast<const detail::GeneralEntry*>(entries));
        else walk(reinterpret_cast<const detail::StrEntry*>(entries));
        return;
    }
#endif
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(dict, &pos, &key, &value)) f(key, value);
}

}  // namespace pyhost
