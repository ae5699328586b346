// Reading the record: keys recognised by name, the text of plain values, and an answer's section.
#include "rundown/fast/record.hpp"

#include "rundown/text/match.hpp"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstring>

namespace rundown::fast {

namespace {

// The fields by the length of their names: a key is compared with the names of its own length alone.
constexpr std::size_t longest_name = 16;
constexpr auto fields_by_length = [] {
    std::array<std::array<signed char, 4>, longest_name + 1> t{};
    for (auto& slot : t) slot.fill(-1);
    for (int f = 0; f < field_count; ++f) {
        auto& slot = t[field_names[f].size()];
        std::size_t k = 0;
        while (slot[k] >= 0) ++k;
        slot[k] = static_cast<signed char>(f);
    }
    return t;
}();

// The field named by the str `key`, or -1.
int field_named(PyObject* key) {
    const auto n = static_cast<std::size_t>(PyUnicode_GET_LENGTH(key));
    if (n > longest_name || !PyUnicode_IS_ASCII(key)) return -1;  // every name is ASCII
    const void* s = PyUnicode_DATA(key);
    for (const signed char f : fields_by_length[n])
        if (f >= 0 && std::memcmp(s, field_names[f].data(), n) == 0) return f;
    return -1;
}

// An int whose str() cannot fail on the interpreter's limit of digits: one of 64 bits.
void long_fits(PyObject* v) {
    int overflow = 0;
    PyLong_AsLongLongAndOverflow(v, &overflow);
    if (overflow) throw NotPlain{};
}

// The text of a plain value: the value itself when it is a str, nothing when it is falsy, else its str()
// (made into `made`); NotPlain for a value whose text could run Python code (a container's is its repr).
Piece value_text(PyObject* v, pyhost::Ref& made) {
    if (is_str(v)) return Piece::of(v);
    if (v == Py_None || v == Py_False || (plain_container(v) && PyObject_Length(v) == 0)) return {};
    if (!plain_scalar(v)) throw NotPlain{};
    if (PyLong_CheckExact(v)) long_fits(v);
    if (!pyhost::truthy(v)) return {};
    made = pyhost::str(v);
    return Piece::of(made.get());
}

// The structured block type named by `type`, compared as the host compares a str with each name.
Block::Type type_of(PyObject* type) {
    if (!is_str(type)) {
        if (plain_scalar(type) || plain_container(type)) return Block::Type::other;
        throw NotPlain{};  // its own __eq__ decides
    }
    if (!PyUnicode_IS_ASCII(type)) return Block::Type::other;
    const std::string_view s(static_cast<const char*>(PyUnicode_DATA(type)), static_cast<std::size_t>(PyUnicode_GET_LENGTH(type)));
    auto is = [&](std::string_view name) { return s == name; };
    if (is("heading")) return Block::Type::heading;
    if (is("paragraph")) return Block::Type::paragraph;
    if (is("list_item")) return Block::Type::list_item;
    if (is("table_row")) return Block::Type::table_row;
    return Block::Type::other;
}

}  // namespace

Piece cell_text(PyObject* v, pyhost::Ref& held) { return strip(value_text(v, held)); }

int Reader::new_key(std::size_t at, PyObject* key) {
    for (std::size_t i = at + 1; i < at + probes && keys_[i].key; ++i)
        if (keys_[i].key == key) return keys_[i].field;
    // A key of another type than str could compare equal to a name through Python code of its own.
    int field = -1;
    if (is_str(key)) field = field_named(key);
    else if (!plain_scalar(key)) throw NotPlain{};
    for (std::size_t i = at; i < at + probes; ++i) {
        if (!keys_[i].key) {
            keys_[i] = {key, field};  // the key lives as long as the record, which outlives the report
            break;
        }
    }
    return field;
}

void Reader::read(PyObject* dict, PyObject** out, Field upto) {
    constexpr Py_ssize_t most_keys = 64;
    std::fill(out, out + upto, Py_None);
    if (PyDict_GET_SIZE(dict) > most_keys) throw NotPlain{};
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(dict, &pos, &key, &value)) {
        const int id = field_of(key);  // every key is looked at: one of another type sends the record away
        if (static_cast<unsigned>(id) < static_cast<unsigned>(upto)) out[id] = value;
    }
}

Piece Reader::other_text(PyObject* v) {
    pyhost::Ref made;
    const Piece p = widest(value_text(v, made));
    if (made) held_.push_back(std::move(made));
    return p;
}

bool Reader::truth(PyObject* v) const {
    if (is_str(v)) return PyUnicode_GET_LENGTH(v) > 0;
    if (v == Py_None) return false;
    if (plain_scalar(v) || plain_container(v)) return pyhost::truthy(v);
    throw NotPlain{};
}

PyObject* Reader::cells(PyObject* list) {
    hold(list);
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
        PyObject* v = PyList_GET_ITEM(list, i);
        if (is_str(v)) kind_ = std::max<int>(kind_, PyUnicode_KIND(v));
        else if (PyLong_CheckExact(v)) long_fits(v);
        else if (!plain_scalar(v) && (!plain_container(v) || PyObject_Length(v) > 0)) throw NotPlain{};
    }
    return list;
}

void Section::read(Reader& r, PyObject* answer) {
    body = Body::none;
    products.clear();
    recommended.clear();
    blocks.clear();
    summary = text = {};
    PyObject* f[answer_fields_end];
    if (exact_dict(answer)) r.read(answer, f, answer_fields_end);
    else std::fill(f, f + answer_fields_end, Py_None);  // read as an empty record
    // The lists are held before the first check for signals, which may change the answer.
    PyObject* links[] = {f[f_product_links], f[f_recommended_asins], f[f_blocks]};
    for (PyObject*& list : links) {
        list = exact_list(list);
        if (list) r.hold(list);
    }
    summary = r.stripped(f[f_summary_text]);
    const Piece full = text = r.stripped(f[f_text]);  // kept where a check for signals finds it
    const bool failed = f[f_is_success] == Py_False && full.empty();
    read_links(r, links[0], false, products);
    if (!failed) {
        if (links[2] && PyList_GET_SIZE(links[2]) > 0) read_blocks(r, links[2]);
        // A row with neither cells nor text only ends a list: alone, such rows show nothing.
        const bool shows = std::any_of(blocks.begin(), blocks.end(), [](const Block& b) {
            return b.type != Block::Type::table_row || b.row.width || !b.text.empty();
        });
        if (shows) body = Body::blocks;
        else if (!full.empty()) body = Body::text;
    }
    read_links(r, links[1], true, recommended);
}

void Section::pin(Reader& r) const {
    auto hold = [&](const Piece& p) { r.hold(p.owner); };
    for (const auto* links : {&products, &recommended})
        for (const Link& l : *links)
            for (const Piece* p : {&l.text, &l.asin, &l.title, &l.href, &l.source, &l.description}) hold(*p);
    hold(summary);
    hold(text);
    for (const Block& b : blocks) {
        hold(b.text);
        hold(b.row.line);
    }
}

void Section::read_links(Reader& r, PyObject* list, bool include_source, std::vector<Link>& out) {
    if (!list) return;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
        PyObject* item = PyList_GET_ITEM(list, i);
        if (is_str(item)) {
            const Piece t = r.stripped(item);
            if (!t.empty()) out.push_back({true, t, {}, {}, {}, {}, {}});
        } else if (exact_dict(item)) {
            PyObject* lf[f_question];
            r.read(item, lf, f_question);
            Link l{false, {}, r.stripped(lf[f_asin]), r.stripped(r.truth(lf[f_title]) ? lf[f_title] : lf[f_href]),
                   r.stripped(lf[f_href]), r.stripped(lf[f_source]), r.stripped(lf[f_description])};
            const bool shows_source = include_source && !l.source.empty();
            if (!l.asin.empty() || !l.title.empty() || shows_source || !l.href.empty() || !l.description.empty())
                out.push_back(l);
        }
        r.interrupts().tick(16);
    }
}

void Section::read_blocks(Reader& r, PyObject* list) {
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
        r.interrupts().tick(16);
        PyObject* block = exact_dict(PyList_GET_ITEM(list, i));
        if (!block) continue;
        PyObject* bf[block_fields_end];
        r.read(block, bf, block_fields_end);
        const Block::Type type = type_of(bf[f_type]);
        const Piece full = r.text(bf[f_text]), t = strip(full);
        if (type == Block::Type::other || (t.empty() && type != Block::Type::table_row)) continue;
        Block& b = blocks.emplace_back(type, t);  // built in place: a block is large
        if (type == Block::Type::heading) {
            PyObject* level = bf[f_level];  // an int (bools too), else 2
            if (PyLong_Check(level)) {
                int overflow = 0;
                b.level = PyLong_AsLongLongAndOverflow(level, &overflow);
                if (overflow) b.level = overflow > 0 ? LLONG_MAX : LLONG_MIN;
            }
        } else if (type == Block::Type::table_row) {
            PyObject* given = exact_list(bf[f_cells]);
            if (given && PyList_GET_SIZE(given) > 0)
                b.row = {{}, r.cells(given), static_cast<std::size_t>(PyList_GET_SIZE(given))};
            else
                b.row = {full, nullptr, with_chars(full, [&](const auto* p) { return match_pipe_row(full, p); })};
        }
    }
}

}  // namespace rundown::fast
