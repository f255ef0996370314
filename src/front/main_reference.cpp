// Entry point of `programma_reference`: the same program computing every
// kernel with the plain scalar formulas, one thread, no cache. Tests and
// benchmarks compare the fast program against it byte for byte.
#include "engine_settings.h"
#include "programma.h"

int main(int argc, char** argv) {
    use_reference_arithmetic();
    return programma_main(argc, argv);
}
