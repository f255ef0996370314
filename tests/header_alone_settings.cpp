// Compiles the public header programma/settings.h on its own: it includes all it needs.
#include "programma/settings.h"
