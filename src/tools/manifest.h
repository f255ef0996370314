// The manifest saved beside classify's ten lists: the kernel, its parameter
// and the epochs they were trained with, and the training set's size and
// hash, so that --restore uses the settings that made the lists and refuses
// another training set.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "programma/kernel.h"

struct Manifest {
    programma::KernelSpec kernel{programma::KernelKind::polynomial, 2.0f};
    uint32_t epochs = 2;
    uint32_t rows = 0;     // of the training set
    uint32_t columns = 0;  // features and label
    uint64_t hash = 0;     // XXH3-64 of the training set's bytes
    bool operator==(const Manifest& other) const;
};

// One "key value" line each, after a comment line:
//   kernel gauss|pol, constant X (gauss) or degree X (pol), epochs N,
//   training-rows N, training-columns N, training-xxh3 (16 hex digits).
std::string format_manifest(const Manifest& manifest);

// Every key exactly once, in any order; '#' lines are comments. Returns
// nothing, and says why in `problem`, for anything else.
std::optional<Manifest> parse_manifest(std::string_view text, std::string& problem);

// XXH3-64 of a file's bytes; throws std::runtime_error naming the file.
uint64_t file_hash(const std::string& path);

// The manifest's file, and a digit's list, in a lists folder.
std::string manifest_path(const std::string& folder);
std::string list_path(const std::string& folder, uint32_t digit);
