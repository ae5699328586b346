// The line parsers of RundownWriter on the native matchers: the same results as the Python code that runs
// `re.match` on the module's own `re`, with the result objects built only at the end.
#pragma once

#include "pyhost/function.hpp"

namespace rundown::text {

pyhost::Ref parse_markdown_heading(const pyhost::Call& c);
pyhost::Ref parse_markdown_list_item(const pyhost::Call& c);
pyhost::Ref parse_pipe_row(const pyhost::Call& c);
/// Null when a cell is not an exact str (the Python code then decides what its `strip` does).
pyhost::Ref is_markdown_delimiter_row(const pyhost::Call& c);

}  // namespace rundown::text
