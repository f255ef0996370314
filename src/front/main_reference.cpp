// Entry point of `programma_reference`: the same program computing with the
// plain reference modules alone (scalar formulas, one thread, no cache).
// Tests and benchmarks compare the fast program against it byte for byte.
#include "programma.h"

int main(int argc, char** argv) {
    fast_engine = false;
    return programma_main(argc, argv);
}
