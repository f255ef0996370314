// The version the library was built as, for programs that ask at run time.
#include "programma/version.h"

namespace programma {

const char* version() { return PROGRAMMA_VERSION_STRING; }

}  // namespace programma
