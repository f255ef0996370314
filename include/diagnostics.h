// Diagnostics on standard error. Standard output carries only the program's
// own report lines; every explanation of why a run stopped goes to standard
// error, prefixed with the program name, after standard output is flushed so
// that the two streams interleave in the order things happened.
#pragma once

[[gnu::format(printf, 1, 2)]] void report_error(const char* format, ...);
