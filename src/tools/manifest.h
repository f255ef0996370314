// The manifest saved beside classify's lists: the kernel, its parameter,
// the epochs and the margin they were trained with, the training set's size and hash, the
// labels (one list each) and each list's hash, so that --restore uses the
// settings that made the lists and refuses another training set or a list
// that is not one of them. Also the hash of a file whose bytes must stay
// those hashed while a run uses it.
#pragma once

#include <sys/types.h>
#include <time.h>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "labels.h"
#include "programma/kernel.h"

struct Manifest {
    programma::KernelSpec kernel{programma::KernelKind::polynomial, 2.0f};
    uint32_t epochs = 2;
    float margin = 0.0f;                      // a line only when above 0
    std::optional<uint64_t> shuffle{};        // the seed of the training order; none for file order
    uint32_t rows = 0;                        // of the training set
    uint32_t columns = 0;                     // features and label
    uint64_t hash = 0;                        // XXH3-64 of the training set's bytes
    Labels labels = digit_labels();           // a manifest that names none was made for the digits
    std::vector<uint64_t> list_hashes{};      // XXH3-64 of each label's list, in the labels' order;
                                              // none in a manifest made before lists were hashed
    std::map<std::string, uint64_t> lines{};  // the line each key was read from (not compared)
    bool operator==(const Manifest& other) const;
};

// A comment line, then one "key value" line each, in this order:
//   kernel gauss|pol, constant X (gauss) or degree X (pol), epochs N,
//   margin X (only when above 0), shuffle SEED (only when the training
//   order was shuffled), training-rows N, training-columns N, training-xxh3 (16 hex digits),
//   labels (whole numbers, ascending), list-LABEL-xxh3 (16 hex digits) for
//   each label.
std::string format_manifest(const Manifest& manifest);

// Every key once, in any order; '#' lines are comments. labels and the list
// hashes may be missing (a manifest made before they were recorded), the
// list hashes all together; a missing margin is 0, and one given must be
// finite and not below 0. Returns nothing, and says why in `problem`, for
// anything else.
std::optional<Manifest> parse_manifest(std::string_view text, std::string& problem);

// "PATH:LINE" of a manifest's key, or PATH when it was not read from a line.
std::string where_in(const Manifest& manifest, const std::string& path, const std::string& key);

// XXH3-64 of bytes.
uint64_t text_hash(std::string_view bytes);

// A file hashed for a manifest, and what the system said of it then: a
// run that reads it again must find the same file, unchanged.
struct VouchedFile {
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    uint64_t hash = 0;
};

// Hashes a file through one descriptor, refusing one that changes while it
// is read; throws std::runtime_error naming the file.
VouchedFile vouch_for(const std::string& path);

// Throws naming the file when it is no longer the file hashed, or changed
// (its size or modification time) since.
void require_unchanged(const VouchedFile& file);
