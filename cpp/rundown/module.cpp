// The rundown_writer extension module: its namespace (re, Any, RundownWriter) and the method table
// that binds each method's Python surface to its body.
#include "pyhost/plain_class.hpp"
#include "rundown/guard.hpp"
#include "rundown/text/parsers.hpp"
#include "rundown/fast/report.hpp"
#include "rundown/generic/generic.hpp"
#include "rundown/state.hpp"

namespace rundown {
namespace {

using pyhost::Accept;
using pyhost::MethodSpec;
using pyhost::Param;

// The report takes the native path whenever nothing that it reaches has been replaced and the record is
// plain; the generic path computes the same report otherwise.
pyhost::Ref format_data(const pyhost::Call& c) {
    if (native_allowed(c))
        if (pyhost::Ref report = fast::report(c, c.arg(0))) return report;
    return generic::format_data(c);
}

// The line parsers that match patterns run natively while the module's `re` is its own.
pyhost::Ref parse_markdown_heading(const pyhost::Call& c) {
    return re_untouched(c) ? text::parse_markdown_heading(c) : generic::parse_markdown_heading(c);
}

pyhost::Ref parse_markdown_list_item(const pyhost::Call& c) {
    return re_untouched(c) ? text::parse_markdown_list_item(c) : generic::parse_markdown_list_item(c);
}

pyhost::Ref is_markdown_delimiter_row(const pyhost::Call& c) {
    if (re_untouched(c))
        if (pyhost::Ref result = text::is_markdown_delimiter_row(c)) return result;
    return generic::is_markdown_delimiter_row(c);
}

constexpr Param data_param[] = {{"data", "dict", Accept::dict}};
constexpr Param raw_questions_param[] = {{"raw_questions", "Any"}};
constexpr Param question_at_params[] = {{"questions", "list[str]", Accept::list}, {"index", "int", Accept::number}};
constexpr Param section_params[] = {
    {"index", "int", Accept::number}, {"answer", "Any"}, {"question", "str", Accept::str}};
constexpr Param answer_body_params[] = {{"index", "int", Accept::number}, {"answer", "dict", Accept::dict}};
constexpr Param raw_links_param[] = {{"raw_links", "Any"}};
constexpr Param raw_items_param[] = {{"raw_items", "Any"}};
constexpr Param link_items_params[] = {{"raw_items", "Any"}, {"include_source", "bool", Accept::any, true}};
constexpr Param answer_blocks_params[] = {{"text", "str", Accept::str}, {"structured_blocks", "Any"}};
constexpr Param structured_blocks_param[] = {{"structured_blocks", "list[Any]", Accept::list}};
constexpr Param block_param[] = {{"block", "dict", Accept::dict}};
constexpr Param row_cells_params[] = {{"row", "list[str]", Accept::list}, {"width", "int", Accept::number}};
constexpr Param blocks_param[] = {{"blocks", "list[dict]", Accept::list}};
constexpr Param text_param[] = {{"text", "str", Accept::str}};
constexpr Param line_param[] = {{"line", "str", Accept::str}};
constexpr Param cells_param[] = {{"cells", "list[str]", Accept::list}};
constexpr Param table_params[] = {{"lines", "list[str]", Accept::list}, {"start_index", "int", Accept::number}};

constexpr MethodSpec methods[] = {
    {"format_data", "格式化 manager 返回的完整数据。", data_param, "str", format_data},
    {"_extract_questions", "从全量数据中提取题目文本。", data_param, "list[str]", generic::extract_questions},
    {"_normalize_question_list", "兼容字符串题目与前端 question item。", raw_questions_param, "list[str]",
     generic::normalize_question_list},
    {"_question_at", "读取第 N 题文本，缺失时使用稳定兜底。", question_at_params, "str", generic::question_at},
    {"_format_section", "格式化单题 section。", section_params, "str", generic::format_section},
    {"_format_answer_body", "按前端 block 模型格式化答案正文。", answer_body_params, "list[str]",
     generic::format_answer_body},
    {"_format_product_links", "格式化相关产品。", raw_links_param, "list[str]", generic::format_product_links},
    {"_format_recommended_asins", "格式化推荐 ASIN。", raw_items_param, "list[str]", generic::format_recommended_asins},
    {"_format_link_items", "兼容字符串链接和前端链接对象。", link_items_params, "list[str]", generic::format_link_items},
    {"_build_answer_blocks", "优先使用结构化 blocks，不可渲染时回退解析文本。", answer_blocks_params, "list[dict]",
     generic::build_answer_blocks},
    {"_build_structured_answer_blocks", "按前端结构化 block 规则组装展示块。", structured_blocks_param, "list[dict]",
     generic::build_structured_answer_blocks},
    {"_normalize_structured_row", "读取结构化表格行。", block_param, "list[str] | None",
     generic::normalize_structured_row},
    {"_normalize_row_cells", "补齐或合并表格列。", row_cells_params, "list[str]", generic::normalize_row_cells},
    {"_to_structured_blocks", "将中间块转换为前端结构化 block。", blocks_param, "list[dict]",
     generic::to_structured_blocks},
    {"_render_blocks", "将展示块渲染为 Markdown-like 文本。", blocks_param, "list[str]", generic::render_blocks},
    {"_collapse_blank_lines", "压缩连续空行并清理行尾空白。", text_param, "str", generic::collapse_blank_lines},
    {"_build_text_fallback_blocks", "解析 Markdown-like 文本为中间块。", text_param, "list[dict]",
     generic::build_text_fallback_blocks},
    {"_normalize_text_lines", "统一换行符。", text_param, "list[str]", generic::normalize_text_lines},
    {"_parse_markdown_heading", "解析 Markdown 标题。", line_param, "dict | None", parse_markdown_heading},
    {"_parse_markdown_list_item", "解析 Markdown 列表项。", line_param, "dict | None", parse_markdown_list_item},
    {"_parse_markdown_table", "解析带 delimiter 的 Markdown 表格。", table_params, "tuple[dict, int] | None",
     generic::parse_markdown_table},
    {"_parse_pipe_row", "解析管道分隔行。", line_param, "list[str] | None", text::parse_pipe_row},
    {"_is_markdown_delimiter_row", "判断是否为 Markdown 表头分隔符。", cells_param, "bool", is_markdown_delimiter_row},
};

// The native report's guard compares the module's `re.match` with the one seen here, when `re` is a module
// with a `match`. The host's `import re` reads nothing from `re`, so a `re` without one loads all the same,
// and the methods look `match` up at each use.
Ref match_at_load(const State& st, PyObject* re) {
    try {
        return pyhost::dict_lookup(PyModule_GetDict(re), st.match);
    } catch (const pyhost::Error&) {
        PyErr_Clear();  // a failed comparison of keys, which `import re` would never have made
        return {};
    }
}

// The entry points below are not noexcept: each can run Python code (imports, finalizers), where the
// interpreter may end the thread with a forced unwind that must pass.
int exec_module(PyObject* module) {
    return pyhost::guarded_status([&] {
        State& st = pyhost::make_state<State>(module);
        st.init();
        Ref re = pyhost::import_into(module, "re");
        // The guard reads `re.match` from the module's dict: an `re` that is no module (an object put in
        // sys.modules) is never taken for the one imported, so the generic path runs with it.
        if (PyModule_Check(re.get())) {
            st.re_module = re;
            st.re_match = match_at_load(st, re.get());
        }
        pyhost::import_from_into(module, "typing", {"Any"});
        st.function_type = pyhost::make_function_type(module, "tavik.amazon_rufus.services.rundown_writer.function");
        pyhost::add_plain_class(module, st.function_type.get(), "RundownWriter",
                                "将 Rufus 全量结果投影为前端风格的终端报告。", methods);
        st.steps = std::span<const MethodSpec>(methods).subspan(1);  // every method but format_data
        for (const MethodSpec& step : st.steps) st.step_names.push_back(pyhost::intern(step.name));
    });
}

int traverse_module(PyObject* module, visitproc visit, void* arg) noexcept {
    State* st = pyhost::state_of<State>(module);
    if (!st) return 0;
    Py_VISIT(st->function_type.get());
    Py_VISIT(st->re_module.get());
    Py_VISIT(st->re_match.get());
    Py_VISIT(st->include_source_kwnames.get());
    return 0;
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "tavik.amazon_rufus.services.rundown_writer",
    "把 Rufus 运行结果渲染为终端报告。",
    sizeof(State*),
    nullptr,
    slots,
    traverse_module,
    pyhost::clear_state<State>,
    pyhost::free_state<State>,
};

}  // namespace
}  // namespace rundown

PyMODINIT_FUNC PyInit_rundown_writer() { return PyModuleDef_Init(&rundown::definition); }
