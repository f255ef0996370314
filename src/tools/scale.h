// `scale`: every feature mapped linearly onto bounds by the ranges learned
// from a training file (or by saved ranges), through the library's
// programma/preparation.h; the input in any format convert reads, the
// labels passed through untouched.
#pragma once

#include <string>
#include <vector>

#include "input_format.h"
#include "programma/preparation.h"

struct ScaleOptions {
    InputOptions input;
    std::vector<std::string> inputs;  // one file (IDX: images, labels); - is standard input
    float lower = -1.0f;
    float upper = 1.0f;
    std::string ranges;       // saved ranges to apply instead of learning them
    std::string save_ranges;  // where the ranges learned are saved
    std::string output;       // empty: standard output
};

// The work's results: the scaled sample-set file, and the ranges used.
struct Scaled {
    std::string samples;
    programma::FeatureRanges ranges;
};

// Learns the ranges from the input (or reads them from options.ranges) and
// maps the input with them.
Scaled scale_samples(const ScaleOptions& options);
