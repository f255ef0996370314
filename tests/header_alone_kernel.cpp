// Compiles the public header programma/kernel.h on its own: it includes all it needs.
#include "programma/kernel.h"
