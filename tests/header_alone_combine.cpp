// Compiles the public header programma/combine.h on its own: it includes all it needs.
#include "programma/combine.h"
