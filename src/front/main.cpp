// Entry point of `programma`: the front end with the engine plugged in. The
// program itself lives in the front-end library so that tests and fuzzers
// can drive it in-process.
#include "engine_compute.h"
#include "engine_settings.h"
#include "programma.h"

int main(int argc, char** argv) {
    engine_settings().bind_caller = true;  // programma starts no other process
    return programma_main(argc, argv, engine_compute());
}
