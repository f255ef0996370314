// How a caller stops a long call of the library: a flag another thread (or
// a signal handler) sets. Training, scoring and testing read it between
// chunks of rows, and a set flag ends the call with the error "cancelled"
// within about a second, leaving nothing behind.
#pragma once

#include <atomic>

namespace programma {

using CancelFlag = std::atomic<bool>;

}  // namespace programma
