// The rundown_writer extension module: its namespace (re, Any, RundownWriter) and the method table
// that binds each method's Python surface to its body.
#include "pyhost/plain_class.hpp"
#include "rundown/generic/generic.hpp"
#include "rundown/state.hpp"

#include <new>

namespace rundown {
namespace {

using pyhost::Accept;
using pyhost::MethodSpec;
using pyhost::Param;

constexpr Param text_param[] = {{"text", "str", Accept::str}};
constexpr Param line_param[] = {{"line", "str", Accept::str}};
constexpr Param cells_param[] = {{"cells", "list[str]", Accept::list}};
constexpr Param blocks_param[] = {{"blocks", "list[dict]", Accept::list}};
constexpr Param table_params[] = {{"lines", "list[str]", Accept::list}, {"start_index", "int", Accept::number}};

constexpr MethodSpec methods[] = {
    {"_to_structured_blocks", "将中间块转换为前端结构化 block。", blocks_param, "list[dict]",
     generic::to_structured_blocks},
    {"_render_blocks", "将展示块渲染为 Markdown-like 文本。", blocks_param, "list[str]", generic::render_blocks},
    {"_collapse_blank_lines", "压缩连续空行并清理行尾空白。", text_param, "str", generic::collapse_blank_lines},
    {"_parse_markdown_heading", "解析 Markdown 标题。", line_param, "dict | None", generic::parse_markdown_heading},
    {"_parse_markdown_list_item", "解析 Markdown 列表项。", line_param, "dict | None",
     generic::parse_markdown_list_item},
    {"_parse_markdown_table", "解析带 delimiter 的 Markdown 表格。", table_params, "tuple[dict, int] | None",
     generic::parse_markdown_table},
    {"_parse_pipe_row", "解析管道分隔行。", line_param, "list[str] | None", generic::parse_pipe_row},
    {"_is_markdown_delimiter_row", "判断是否为 Markdown 表头分隔符。", cells_param, "bool",
     generic::is_markdown_delimiter_row},
    {"_normalize_text_lines", "统一换行符。", text_param, "list[str]", generic::normalize_text_lines},
    {"_build_text_fallback_blocks", "解析 Markdown-like 文本为中间块。", text_param, "list[dict]",
     generic::build_text_fallback_blocks},
};

State& state_of(PyObject* module) { return *static_cast<State*>(PyModule_GetState(module)); }

int exec_module(PyObject* module) noexcept {
    State* st = new (PyModule_GetState(module)) State();
    try {
        st->init();
        pyhost::import_into(module, "re");
        pyhost::import_from_into(module, "typing", "Any");
        pyhost::Ref function_type =
            pyhost::make_function_type(module, "tavik.amazon_rufus.services.rundown_writer.function");
        pyhost::add_plain_class(module, function_type.get(), "RundownWriter", "将 Rufus 全量结果投影为前端风格的终端报告。",
                                methods);
        return 0;
    } catch (...) {
        pyhost::set_error_from_exception();
        return -1;
    }
}

void free_module(void* module) noexcept {
    // The state was zero-filled before exec; destroying null references is harmless even if exec never ran.
    state_of(static_cast<PyObject*>(module)).~State();
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "tavik.amazon_rufus.services.rundown_writer",
    "把 Rufus 运行结果渲染为终端报告。",
    sizeof(State),
    nullptr,
    slots,
    nullptr,
    nullptr,
    free_module,
};

}  // namespace
}  // namespace rundown

PyMODINIT_FUNC PyInit_rundown_writer() { return PyModuleDef_Init(&rundown::definition); }
