// The methods of PromptPoolService as bodies over Python objects: every step reached through the instance and
// every module-level name (json, Path, the domain classes) read from the module namespace at each use.
#pragma once

#include "prompt_pool/state.hpp"
#include "pyhost/function.hpp"

namespace prompt_pool {

using pyhost::Call;
using pyhost::Obj;

// Location and loading of the bank file.
Ref init(const Call& c);
Ref load_templates(const Call& c);
Ref resolve_question_templates_path(const Call& c);
Ref not_ready(const Call& c);

// Template items and question entries.
Ref parse_template(const Call& c);
Ref parse_question(const Call& c);

}  // namespace prompt_pool
