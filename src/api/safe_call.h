// The library's promise that no exception leaves a call: what the standard
// library throws when memory or threads cannot be had becomes an
// out-of-memory error; and the check every file name gets first.
#pragma once

#include <new>
#include <stdexcept>
#include <string>
#include <system_error>

#include "programma/error.h"

namespace programma {

// work()'s result; an exception of the standard library's resources as an
// out-of-memory error naming `path`.
template <typename T, typename Work>
Result<T> guarded(Work&& work, const std::string& path = {}) {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return Error{ErrorKind::out_of_memory, "out of memory", path, 0, 0, {}};
    } catch (const std::length_error&) {  // a size beyond what a container may hold
        return Error{ErrorKind::out_of_memory, "out of memory", path, 0, 0, {}};
    } catch (const std::system_error& error) {  // a thread the system would not start
        return Error{ErrorKind::out_of_memory, std::string("out of resources: ") + error.what(), path, 0, 0, {}};
    }
}

// A file name the system can take: a null byte would cut it short, so that
// another file would be read or written.
inline Status check_path(const std::string& path) {
    if (path.find('\0') == std::string::npos) return Done{};
    return Error{ErrorKind::invalid_argument, "embedded null byte", {}, 0, 0, "path"};
}

}  // namespace programma
