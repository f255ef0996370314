// The engine's options as the library offers them: their defaults, and the
// environment values the programs read at start.
#include "programma/options.h"
#include "engine_call.h"
#include "engine_settings.h"

namespace programma {

unsigned available_processors() { return default_threads(); }

std::size_t quarter_of_memory() { return default_cache_bytes(); }

const char* vector_level_name(VectorLevel level) { return ::vector_level_name(engine_level(level)); }

EngineOptions options_from_environment() {
    const EngineSettings read = settings_from_environment();
    EngineOptions options;
    options.threads = read.threads;
    options.cache_bytes = read.cache_bytes;
    options.widest = library_level(read.widest);
    return options;
}

}  // namespace programma
