// Fuzz target: CSV text, with the delimiter, header and label column taken
// from the first two bytes. A conversion that succeeds must load as a sample
// set, and that set written as plain CSV must convert to the same numbers.
#include "convert.h"
#include "tools_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    constexpr std::string_view kDelimiters = ",; \t|";
    CsvOptions options;
    options.delimiter = kDelimiters[data[0] % kDelimiters.size()];
    options.header = (data[0] & 0x80) != 0;
    options.label_column = data[1] % 4;  // 0: the last
    const std::string_view input(reinterpret_cast<const char*>(data) + 2, size - 2);
    const std::optional<std::string> samples = fuzz::converted([&] { return csv_to_samples(input, "in", options); });
    if (!samples) return 0;
    const programma::SampleSet first = fuzz::loaded(*samples, "converted CSV loads as a sample set");
    std::string csv;
    for (uint32_t r = 0; r < first.rows(); ++r) {
        for (uint32_t c = 0; c < first.columns(); ++c) {
            append_float(csv, first.row(r)[c]);
            csv += c + 1 < first.columns() ? ',' : '\n';
        }
    }
    const programma::SampleSet second = fuzz::loaded(csv_to_samples(csv, "back", CsvOptions{}), "plain CSV loads");
    fuzz::check(fuzz::same_values(first, second), "CSV to samples to CSV keeps every number");
    return 0;
}
