// Entry point of `programma_reference`: the same program computing with the
// plain reference modules alone (scalar formulas, one thread, no cache). Its
// binary holds no engine code. Tests and benchmarks compare the fast program
// against it byte for byte.
#include "programma.h"

int main(int argc, char** argv) { return programma_main(argc, argv, plain_compute()); }
