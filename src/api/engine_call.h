// How the library's calls hand their options to the engine: checked, turned
// into the engine's settings, and shown to a test's hook.
#pragma once

#include <functional>

#include "engine_settings.h"
#include "programma/error.h"
#include "programma/options.h"

namespace programma {

::VectorLevel engine_level(VectorLevel level);
VectorLevel library_level(::VectorLevel level);

// The engine's settings for a call's options; refused when they ask for no
// thread.
Result<EngineSettings> engine_settings_for(const EngineOptions& options);

// For tests: called with the options of every loading, training, scoring and
// test call, from the call's own thread, as it hands them to the engine.
// An empty hook (the default) is none.
void set_call_hook(std::function<void(const EngineOptions&)> hook);

}  // namespace programma
