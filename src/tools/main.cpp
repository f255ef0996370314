// Entry point of `digit-tools`; the commands live in the tools library so
// that tests can drive them in-process.
#include "commands.h"

int main(int argc, char** argv) { return digit_tools_main(argc, argv); }
