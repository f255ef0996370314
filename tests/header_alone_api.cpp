// Compiles the public header programma/api.h on its own: it includes all it needs.
#include "programma/api.h"
