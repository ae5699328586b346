// The prompt_pool extension module: its namespace (json, Path, PromptPoolNotReadyError, Question,
// QuestionTemplate, PromptPoolService) and the method table that binds each method's Python surface to its body.
#include "prompt_pool/service.hpp"
#include "pyhost/plain_class.hpp"

namespace prompt_pool {
namespace {

using pyhost::Accept;
using pyhost::MethodSpec;
using pyhost::Param;

constexpr Param init_params[] = {{"skills_dir", "str | None", Accept::str_or_none, false, true}};
constexpr Param item_param[] = {{"item", "dict", Accept::dict}};

constexpr MethodSpec methods[] = {
    {"__init__", nullptr, init_params, "None", init},
    {"load_templates", "读取并校验 question_templates.json。", {}, "list[QuestionTemplate]", load_templates},
    {"_resolve_question_templates_path", "解析题库文件路径。", {}, "Path", resolve_question_templates_path},
    {"_not_ready", "构造可操作的缺失题库错误。", {}, "PromptPoolNotReadyError", not_ready},
    {"_parse_template", "解析单个模板。", item_param, "QuestionTemplate", parse_template},
    {"_parse_question", "解析单个题目。", item_param, "Question", parse_question},
};

// The entry points below are not noexcept: each can run Python code (imports, finalizers), where the
// interpreter may end the thread with a forced unwind that must pass.
int exec_module(PyObject* module) {
    return pyhost::guarded_status([&] {
        State& st = pyhost::make_state<State>(module);
        st.init();
        pyhost::import_into(module, "json");
        pyhost::import_from_into(module, "pathlib", {"Path"});
        pyhost::import_from_into(module, "tavik.amazon_rufus.domain.exceptions", {"PromptPoolNotReadyError"});
        pyhost::import_from_into(module, "tavik.amazon_rufus.domain.models", {"Question", "QuestionTemplate"});
        pyhost::Ref function_type =
            pyhost::make_function_type(module, "tavik.amazon_rufus.services.prompt_pool.function");
        pyhost::add_plain_class(module, function_type.get(), "PromptPoolService",
                                "从已安装 Skill 中读取合并后的默认题目模板。", methods);
    });
}

int traverse_module(PyObject* module, visitproc visit, void* arg) noexcept {
    State* st = pyhost::state_of<State>(module);
    if (!st) return 0;
    Py_VISIT(st->position_key.get());
    Py_VISIT(st->question_keywords.get());
    Py_VISIT(st->template_keywords.get());
    Py_VISIT(st->encoding_keyword.get());
    Py_VISIT(st->key_keyword.get());
    return 0;
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "tavik.amazon_rufus.services.prompt_pool",
    "默认题库读取服务。",
    sizeof(State*),
    nullptr,
    slots,
    traverse_module,
    pyhost::clear_state<State>,
    pyhost::free_state<State>,
};

}  // namespace
}  // namespace prompt_pool

PyMODINIT_FUNC PyInit_prompt_pool() { return PyModuleDef_Init(&prompt_pool::definition); }
