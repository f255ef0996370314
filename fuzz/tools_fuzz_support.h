// What the digit-tools fuzz targets share: running a converter that may
// refuse its input, loading its output with the library's loader, and
// comparing two loads value for value.
#pragma once

#include <bit>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <string>

#include "fuzz_support.h"
#include "programma/api.h"

namespace fuzz {

// The text `convert` gives; none when it refuses its input.
template <class Convert>
std::optional<std::string> converted(Convert&& convert) {
    try {
        return convert();
    } catch (const std::runtime_error&) {
        return std::nullopt;
    }
}

// The sample set a converter's text loads as; `what` names the check that
// the loader takes it.
inline programma::SampleSet loaded(const std::string& text, const char* what) {
    programma::Result<programma::SampleSet> set = programma::read_samples(scratch_file("converted", text));
    check(set.ok(), what);
    return std::move(set).value();
}

// The same size and every value the same float (any NaN matches a NaN).
inline bool same_values(const programma::SampleSet& a, const programma::SampleSet& b) {
    if (a.rows() != b.rows() || a.columns() != b.columns()) return false;
    for (uint32_t r = 0; r < a.rows(); ++r) {
        for (uint32_t c = 0; c < a.columns(); ++c) {
            const float x = a.row(r)[c], y = b.row(r)[c];
            if (!(std::isnan(x) && std::isnan(y)) && std::bit_cast<uint32_t>(x) != std::bit_cast<uint32_t>(y))
                return false;
        }
    }
    return true;
}

}  // namespace fuzz
