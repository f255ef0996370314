// How the library's calls hand their options to the engine: checked, and
// shown to a test's hook.
#pragma once

#include <functional>

#include "programma/error.h"
#include "programma/options.h"

namespace programma {

// A call's options as the engine takes them; refused when they ask for no
// thread. A hook, when set, sees them first.
Status check_options(const EngineOptions& options);

// For tests: called with the options of every loading, training, scoring and
// test call, from the call's own thread, as it hands them to the engine.
// An empty hook (the default) is none.
void set_call_hook(std::function<void(const EngineOptions&)> hook);

}  // namespace programma
