// The line matchers: each walks a slice once, reproducing the backtracking outcome of its pattern.
#include "rundown/fast/match.hpp"

namespace rundown::fast {

namespace {

// `\s+(.*)$` from `i`: at least one whitespace character, then a rest without "\n" that runs to the end.
// The rest begins after the whole whitespace run; returns false when there is no such split.
bool space_then_rest(Piece t, Py_ssize_t i, Piece& rest) noexcept {
    if (i >= t.e || !is_space(t[i])) return false;
    while (i < t.e && is_space(t[i])) ++i;
    if (find_char(*t.src, i, t.e, '\n') != t.e) return false;
    rest = {t.src, i, t.e};
    return true;
}

}  // namespace

int match_heading(Piece t, Piece& text) noexcept {
    Py_ssize_t i = t.b;
    while (i < t.e && t[i] == '#') ++i;
    const Py_ssize_t marks = i - t.b;
    // Past six marks the pattern, whatever it backtracks to, meets a seventh "#" where it needs whitespace.
    if (marks < 1 || marks > 6) return 0;
    Piece rest;
    if (!space_then_rest(t, i, rest) || rest.empty()) return 0;
    text = rest;  // already stripped: it starts after whitespace and the line is stripped
    return static_cast<int>(marks);
}

bool match_list_item(Piece t, Piece& text) noexcept {
    if (t.empty()) return false;
    const Py_UCS4 first = t[t.b];
    Piece rest;
    if (first == '-' || first == '*' || first == 0x2022) {
        // A bullet match is final; when it fails, the numbered pattern cannot match a bullet either.
        if (!space_then_rest(t, t.b + 1, rest) || rest.empty()) return false;
        text = rest;
        return true;
    }
    Py_ssize_t i = t.b;
    while (i < t.e && is_decimal(t[i])) ++i;
    if (i == t.b || i >= t.e || (t[i] != '.' && t[i] != ')')) return false;
    if (!space_then_rest(t, i + 1, rest) || rest.empty()) return false;
    text = rest;
    return true;
}

bool match_delimiter_cell(Piece cell) noexcept {
    Py_ssize_t i = cell.b;
    if (i < cell.e && cell[i] == ':') ++i;
    const Py_ssize_t dashes = i;
    while (i < cell.e && cell[i] == '-') ++i;
    if (i - dashes < 3) return false;
    if (i < cell.e && cell[i] == ':') ++i;
    return i == cell.e;
}

bool match_pipe_row(Piece line, std::vector<Piece>& cells) {
    const Py_ssize_t pipe = find_char(*line.src, line.b, line.e, '|');
    if (pipe == line.e) return false;
    const std::size_t base = cells.size();
    Py_ssize_t start = line.b;
    for (Py_ssize_t i = pipe; i <= line.e; i = find_char(*line.src, start, line.e, '|')) {
        cells.push_back(strip(Piece{line.src, start, i}));
        start = i + 1;
        if (i == line.e) break;
    }
    auto reject = [&] {
        cells.resize(base);
        return false;
    };
    std::size_t first = base, last = cells.size();
    if (last > first && cells[first].empty()) ++first;
    if (last > first && cells[last - 1].empty()) --last;
    if (last - first < 2) return reject();
    bool content = false;
    for (std::size_t k = first; k < last && !content; ++k)
        content = !cells[k].empty() && !equals_ascii(cells[k], "-");
    if (!content) return reject();
    cells.erase(cells.begin() + static_cast<std::ptrdiff_t>(last), cells.end());
    cells.erase(cells.begin() + static_cast<std::ptrdiff_t>(base), cells.begin() + static_cast<std::ptrdiff_t>(first));
    return true;
}

bool is_delimiter_row(const Piece* cells, std::size_t n) noexcept {
    if (n == 0) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (!match_delimiter_cell(strip(cells[i]))) return false;
    return true;
}

}  // namespace rundown::fast
