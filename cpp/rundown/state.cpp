// The constants of rundown_writer, created once when the module executes.
#include "rundown/state.hpp"

namespace rundown {

using pyhost::intern;

namespace {

Ref interned(std::string_view s) {
    PyObject* p = pyhost::str_from(s).release();
    PyUnicode_InternInPlace(&p);
    return pyhost::check(p);
}

}  // namespace

void State::init() {
#define RUNDOWN_INTERN(id, name) id = intern(name);
    RUNDOWN_INTERNED(RUNDOWN_INTERN)
#undef RUNDOWN_INTERN
#define RUNDOWN_INTERN_STEP(id) id = intern("_" #id);
    RUNDOWN_STEPS(RUNDOWN_INTERN_STEP)
#undef RUNDOWN_INTERN_STEP
#define RUNDOWN_PATTERN(id, text) id = pyhost::str_from(text);
    RUNDOWN_PATTERNS(RUNDOWN_PATTERN)
#undef RUNDOWN_PATTERN
    for (int f = 0; f < field_count; ++f) fields[f] = interned(field_names[f]);
    for (int l = 0; l < int(Lit::count); ++l) literals[l] = interned(literal_texts[l]);
    one = pyhost::integer(1);
    two = pyhost::integer(2);
    include_source_kwnames = pyhost::check(pyhost::api([&] { return PyTuple_Pack(1, include_source.get()); }));
}

}  // namespace rundown
