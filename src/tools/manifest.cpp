// The lists' manifest as text, and the training set's hash (XXH3-64 from
// libxxhash, read in blocks so that a large set is never held twice).
#include "manifest.h"

#include <xxhash.h>
#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <vector>

#include "arguments.h"
#include "samples.h"
#include "text.h"

namespace {

constexpr std::string_view kHeading = "# digit-tools classify lists\n";
constexpr std::array<std::string_view, 6> kKeys = {"kernel",        "parameter",        "epochs",
                                                   "training-rows", "training-columns", "training-xxh3"};

std::string_view parameter_key(programma::KernelKind kind) {
    switch (kind) {
        case programma::KernelKind::polynomial: return "degree";
        case programma::KernelKind::gaussian: return "constant";
    }
    return "degree";
}

// Reads the key/value lines into `values`, keyed by kKeys' names ("parameter"
// for degree and constant); false on a malformed, unknown or repeated key.
bool read_lines(std::string_view text, std::map<std::string, std::string>& values, std::string& kind_key,
                std::string& problem) {
    bool ok = true;
    for_each_text_line(text, [&](std::string_view line, unsigned long long number) {
        if (!ok || line.empty() || line.front() == '#') return;
        const std::size_t blank = line.find(' ');
        std::string key(line.substr(0, blank));
        const std::string value(blank == std::string_view::npos ? "" : line.substr(blank + 1));
        if (key == "degree" || key == "constant") {
            kind_key = key;
            key = "parameter";
        }
        const bool known = std::find(kKeys.begin(), kKeys.end(), key) != kKeys.end();
        if (!known || value.empty() || values.count(key) != 0) {
            problem = "line " + std::to_string(number) + " is not a known setting given once";
            ok = false;
            return;
        }
        values[key] = value;
    });
    return ok;
}

}  // namespace

bool Manifest::operator==(const Manifest& other) const {
    return kernel.kind == other.kernel.kind &&
           std::bit_cast<uint32_t>(kernel.parameter) == std::bit_cast<uint32_t>(other.kernel.parameter) &&
           epochs == other.epochs && rows == other.rows && columns == other.columns && hash == other.hash;
}

std::string format_manifest(const Manifest& manifest) {
    std::string text(kHeading);
    text += "kernel " + std::string(kernel_name(manifest.kernel.kind)) + "\n";
    text += std::string(parameter_key(manifest.kernel.kind)) + " ";
    append_float(text, manifest.kernel.parameter);
    text += "\nepochs " + std::to_string(manifest.epochs) + "\n";
    text += "training-rows " + std::to_string(manifest.rows) + "\n";
    text += "training-columns " + std::to_string(manifest.columns) + "\n";
    return text + "training-xxh3 " + printed("%016llx", static_cast<unsigned long long>(manifest.hash)) + "\n";
}

std::optional<Manifest> parse_manifest(std::string_view text, std::string& problem) {
    std::map<std::string, std::string> values;
    std::string kind_key;
    if (!read_lines(text, values, kind_key, problem)) return std::nullopt;
    for (std::string_view key : kKeys) {
        if (values.count(std::string(key)) == 0) {
            problem = "no " + std::string(key == "parameter" ? "constant or degree" : key);
            return std::nullopt;
        }
    }
    Manifest manifest;
    const std::string& kind = values["kernel"];
    if (kind != "pol" && kind != "gauss") {
        problem = "kernel is neither pol nor gauss";
        return std::nullopt;
    }
    manifest.kernel.kind = kind == "pol" ? programma::KernelKind::polynomial : programma::KernelKind::gaussian;
    if (kind_key != parameter_key(manifest.kernel.kind)) {
        problem = "the kernel " + kind + " has no " + kind_key;
        return std::nullopt;
    }
    const std::string& hash = values["training-xxh3"];
    if (!parse_float(values["parameter"], manifest.kernel.parameter) ||
        !parse_whole(values["epochs"], manifest.epochs) || !parse_whole(values["training-rows"], manifest.rows) ||
        !parse_whole(values["training-columns"], manifest.columns) || hash.size() != 16 ||
        !parse_whole(hash, manifest.hash, 16)) {
        problem = "a value is not a number of its kind";
        return std::nullopt;
    }
    return manifest;
}

uint64_t file_hash(const std::string& path) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) fail_in(path, std::string("cannot open: ") + std::strerror(errno));
    const std::unique_ptr<XXH3_state_t, XXH_errorcode (*)(XXH3_state_t*)> state(XXH3_createState(), XXH3_freeState);
    if (!state || XXH3_64bits_reset(state.get()) != XXH_OK) throw std::bad_alloc();
    for_each_block(file.get(), path,
                   [&](std::string_view block) { XXH3_64bits_update(state.get(), block.data(), block.size()); });
    return XXH3_64bits_digest(state.get());
}

std::string manifest_path(const std::string& folder) { return folder + "/manifest"; }

std::string list_path(const std::string& folder, uint32_t digit) {
    return folder + "/" + std::to_string(digit) + ".list";
}
