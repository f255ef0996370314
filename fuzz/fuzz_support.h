// What the fuzz targets share: scratch files, the capture of what the program
// prints, list entries, and the check whose failure libFuzzer records as a
// crash. Each target is a libFuzzer binary or, in ordinary builds, a replayer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "list_lib.h"

namespace fuzz {

// Writes `text` to `name` in this process's scratch folder (removed at exit)
// and returns the file's path.
std::string scratch_file(std::string_view name, std::string_view text);

// The text a call printed on standard output and standard error.
struct Printed {
    std::string out, err;
    bool operator==(const Printed&) const = default;
};

// Runs `run` with the C streams stdout and stderr pointed at memory and stdin
// at its end (the polynomial kernel pauses on it); descriptors 1 and 2 stay,
// so sanitizer reports still reach the terminal.
Printed capture(const std::function<void()>& run);

// Aborts, naming the broken invariant, when `ok` is false.
void check(bool ok, const char* what);

// The entries of a list, which must agree with its count, head and tail.
std::vector<int32_t> entries_of(const std::unique_ptr<IndexList>& list);

}  // namespace fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);
