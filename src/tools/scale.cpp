// `scale`: the input read as convert reads it, its ranges learned or read,
// and its rows written back with every feature mapped and the label as it
// came.
#include "scale.h"

#include <stdexcept>

#include "samples.h"

namespace {

// One sample line a row: the scaled features, then the label untouched.
std::string scaled_text(const programma::SampleSet& scaled, const std::vector<long long>& whole_labels) {
    std::string out;
    const uint32_t features = scaled.features();
    for (uint32_t r = 0; r < scaled.rows(); ++r) {
        const float* row = scaled.row(r);
        for (uint32_t f = 0; f < features; ++f) {
            append_float(out, row[f]);
            out += ' ';
        }
        if (whole_labels.empty()) {
            append_float(out, row[features]);
        } else {
            out += std::to_string(whole_labels[r]);
        }
        out += '\n';
    }
    return out;
}

// The rows of an input: its features as a sample set, and, for another
// format than sample-set files, the whole-number labels as convert writes
// them (a sample-set file's labels are its own floats).
struct ScaleInput {
    programma::SampleSet samples;
    std::vector<long long> whole_labels;
};

ScaleInput read_scale_input(const ScaleOptions& options) {
    if (options.input.format == InputFormat::samples) return {load_sample_stream(options.inputs[0]), {}};
    ConvertedRows rows = read_converted(options.input, options.inputs);
    const std::vector<float> labels(rows.labels.begin(), rows.labels.end());
    programma::SampleSet samples =
        value_for(programma::samples_from_memory(rows.values.data(), labels.data(), rows.rows(), rows.features),
                  options.inputs[0]);
    return {std::move(samples), std::move(rows.labels)};
}

}  // namespace

Scaled scale_samples(const ScaleOptions& options) {
    const ScaleInput input = read_scale_input(options);
    const std::string& name = options.inputs[0];
    Scaled scaled;
    scaled.ranges = options.ranges.empty()
                        ? value_for(programma::feature_ranges(input.samples, options.lower, options.upper), name)
                        : value_for(programma::read_ranges(options.ranges), options.ranges);
    if (scaled.ranges.features.size() > input.samples.features()) {
        fail_in(name, "has " + std::to_string(input.samples.features()) + " features, " + options.ranges +
                          " names feature " + std::to_string(scaled.ranges.features.size()));
    }
    const programma::SampleSet mapped = value_for(programma::apply_ranges(scaled.ranges, input.samples), name);
    scaled.samples = scaled_text(mapped, input.whole_labels);
    return scaled;
}
