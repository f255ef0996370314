// Fuzz target: LIBSVM text. A conversion that succeeds must load as a sample
// set, and that set, written back as LIBSVM and converted again (at its
// width), must give the same numbers.
#include <stdexcept>

#include "digit_tools_convert.h"
#include "tools_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string samples;
    try {
        samples = libsvm_to_samples(input, "in", LibsvmOptions{});
    } catch (const std::runtime_error&) {
        return 0;
    }
    if (samples.size() > (std::size_t(1) << 22)) return 0;  // wide rows: slow, and nothing new
    const std::optional<programma::SampleSet> first = fuzz::load_text(samples);
    fuzz::check(first.has_value(), "converted LIBSVM loads as a sample set");
    const std::string back = samples_to_libsvm(first->matrix());
    LibsvmOptions at_width;
    at_width.width = first->features();
    const std::string again = libsvm_to_samples(back, "back", at_width);
    const std::optional<programma::SampleSet> second = fuzz::load_text(again);
    fuzz::check(second && fuzz::same_values(*first, *second), "LIBSVM to samples to LIBSVM keeps every number");
    return 0;
}
