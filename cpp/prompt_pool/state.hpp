// Per-module state of prompt_pool: the interned names, keys, keyword tuples and messages the methods use.
#pragma once

#include "pyhost/ops.hpp"

namespace prompt_pool {

using pyhost::Ref;

struct State {
    // Names of the module namespace, looked up there at each use.
    Ref json, Path, PromptPoolNotReadyError, Question, QuestionTemplate;
    // Names of host methods and attributes.
    Ref loads, JSONDecodeError, read_text, expanduser, cwd, get, sort;
    // The instance attribute and the steps of PromptPoolService, called through the instance.
    Ref skills_dir, resolve_question_templates_path, not_ready, parse_template, parse_question;
    // Keys of the bank.
    Ref items, id, description, preferred_version_index, questions, created_at, updated_at, text, position;
    // Keyword names of the calls that pass keywords, in the order they are passed.
    Ref question_keywords, template_keywords, encoding_keyword, key_keyword;
    // Path parts, from the skills directory down to the file, and the part below the current directory.
    Ref skill_folder, data_folder, file_name, agents_folder, skills_folder;
    // Literals and messages.
    Ref zero, empty, utf_8;
    Ref missing_message, json_message_prefix, items_message, empty_message;
    // `lambda question: question.position`, the sort key of a template's questions.
    Ref position_key;

    void init();
};

}  // namespace prompt_pool
