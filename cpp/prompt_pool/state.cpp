// The constants of prompt_pool, created once when the module executes.
#include "prompt_pool/state.hpp"

namespace prompt_pool {
namespace {

using pyhost::check;
using pyhost::intern;
using pyhost::str_from;

// Not noexcept: the attribute may be computed by Python code, where the interpreter may end the thread.
PyObject* position_of(PyObject* name, PyObject* question) { return PyObject_GetAttr(question, name); }

PyMethodDef position_key_def = {"position_key", position_of, METH_O, "The position attribute of a question."};

template <class... A>
Ref names(const A&... items) {
    return check(pyhost::api([&] { return PyTuple_Pack(sizeof...(A), items.get()...); }));
}

}  // namespace

void State::init() {
    json = intern("json");
    Path = intern("Path");
    PromptPoolNotReadyError = intern("PromptPoolNotReadyError");
    Question = intern("Question");
    QuestionTemplate = intern("QuestionTemplate");

    loads = intern("loads");
    JSONDecodeError = intern("JSONDecodeError");
    read_text = intern("read_text");
    expanduser = intern("expanduser");
    cwd = intern("cwd");
    get = intern("get");
    sort = intern("sort");

    skills_dir = intern("skills_dir");
    resolve_question_templates_path = intern("_resolve_question_templates_path");
    not_ready = intern("_not_ready");
    parse_template = intern("_parse_template");
    parse_question = intern("_parse_question");

    items = intern("items");
    id = intern("id");
    description = intern("description");
    preferred_version_index = intern("preferred_version_index");
    questions = intern("questions");
    created_at = intern("created_at");
    updated_at = intern("updated_at");
    text = intern("text");
    position = intern("position");

    question_keywords = names(id, text, position);
    template_keywords = names(id, description, preferred_version_index, questions, created_at, updated_at);
    encoding_keyword = names(intern("encoding"));
    key_keyword = names(intern("key"));

    skill_folder = intern("tavik-amazon-rufus");
    data_folder = intern("data");
    file_name = intern("question_templates.json");
    agents_folder = intern(".agents");
    skills_folder = intern("skills");

    zero = pyhost::integer(0);
    empty = intern("");
    utf_8 = intern("utf-8");
    missing_message = str_from(
        "题库未就绪，请先执行 `tavik skills install tavik-amazon-rufus`，再执行 `tavik skills upgrade tavik-amazon-rufus`");
    json_message_prefix = str_from("题库 JSON 格式错误: ");
    items_message = str_from("题库格式错误：缺少 items 列表");
    empty_message = str_from("题库为空，请执行 `tavik skills upgrade tavik-amazon-rufus` 同步默认题库");

    position_key = check(pyhost::api(PyCFunction_NewEx, &position_key_def, position.get(), static_cast<PyObject*>(nullptr)));
}

}  // namespace prompt_pool
