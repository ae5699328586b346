// The prompt_pool extension module: the reader of the default question bank.
#include "pyhost/plain_class.hpp"

namespace prompt_pool {
namespace {

PyModuleDef_Slot slots[] = {
    {0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT, "tavik.amazon_rufus.services.prompt_pool", "默认题库读取服务。", 0, nullptr, slots,
    nullptr,               nullptr,                                   nullptr,
};

}  // namespace
}  // namespace prompt_pool

PyMODINIT_FUNC PyInit_prompt_pool() { return PyModuleDef_Init(&prompt_pool::definition); }
