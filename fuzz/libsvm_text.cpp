// Fuzz target: LIBSVM text. A conversion that succeeds must load as a sample
// set, and that set, written back as LIBSVM and converted again (at its
// width), must give the same numbers.
#include "digit_tools_convert.h"
#include "tools_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
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
