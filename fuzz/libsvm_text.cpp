// Fuzz target: LIBSVM text. A conversion that succeeds must load as a sample
// set, and that set, written back as LIBSVM and converted again (at its
// width), must give the same numbers.
#include <algorithm>

#include "convert.h"
#include "tools_fuzz_support.h"

namespace {

// A bound on the values a conversion writes: the lines times the largest
// number before a ':', counted loosely from the text, not parsed.
std::size_t dense_bound(std::string_view text) {
    std::size_t lines = 1, widest = 0, number = 0;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            number = std::min<std::size_t>(number * 10 + std::size_t(c - '0'), std::size_t(1) << 30);
            continue;
        }
        if (c == ':') widest = std::max(widest, number);
        if (c == '\n') ++lines;
        number = 0;
    }
    return lines * widest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    // Rows millions of values wide take seconds to write out under the
    // sanitizers, and their text is too long to check below anyway.
    if (dense_bound(input) > (std::size_t(1) << 22)) return 0;
    const std::optional<std::string> samples =
        fuzz::converted([&] { return libsvm_to_samples(input, "in", LibsvmOptions{}); });
    if (!samples || samples->size() > (std::size_t(1) << 22)) return 0;  // wide rows: slow, and nothing new
    const programma::SampleSet first = fuzz::loaded(*samples, "converted LIBSVM loads as a sample set");
    LibsvmOptions at_width;
    at_width.width = first.features();
    const std::string again = libsvm_to_samples(samples_to_libsvm(first), "back", at_width);
    fuzz::check(fuzz::same_values(first, fuzz::loaded(again, "LIBSVM converted back loads")),
                "LIBSVM to samples to LIBSVM keeps every number");
    return 0;
}
