// Entry point of `programma`: the front end with the engine plugged in, with
// the settings the environment gives (PROGRAMMA_THREADS, PROGRAMMA_CACHE_MB,
// PROGRAMMA_VECTOR). The program itself lives in the front-end library so
// that tests and fuzzers can drive it in-process.
#include "engine_compute.h"
#include "engine_settings.h"
#include "programma.h"

int main(int argc, char** argv) {
    EngineSettings settings = programma::options_from_environment();
    // programma owns its run: its workers are pinned, and its own thread is
    // bound beside them, since it starts no other process.
    settings.pin_workers = true;
    settings.bind_caller = true;
    return programma_main(argc, argv, engine_compute(settings));
}
