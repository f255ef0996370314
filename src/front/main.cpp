// Entry point of `programma`; the program itself lives in the front-end
// library so that tests and fuzzers can drive it in-process.
#include "programma.h"

int main(int argc, char** argv) { return programma_main(argc, argv); }
