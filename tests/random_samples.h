// Random data for the differential tests: values that stress rounding, and
// sample sets drawn around a few clusters.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "file_lib.h"

inline bool same_bits(float a, float b) { return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b); }

// Values that stress rounding: tiny, huge, zeros of both signs, subnormals,
// and with `specials` infinities and NaNs of both signs.
inline float awkward_value(std::mt19937& random, bool specials) {
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    switch (random() % (specials ? 12 : 8)) {
        case 0: return unit(random) * 1e-20f;
        case 1: return unit(random) * 1e18f;
        case 2: return 0.0f;
        case 3: return -0.0f;
        case 4: return unit(random) * 1e-41f;
        case 5: return std::ldexp(1.0f, int(random() % 40) - 20) * (random() % 2 ? 1 : -1);
        case 8: return std::numeric_limits<float>::infinity() * (random() % 2 ? 1 : -1);
        case 9: return std::numeric_limits<float>::quiet_NaN();
        case 10: return -std::numeric_limits<float>::quiet_NaN();
        case 11: return unit(random) * 3e38f;
        default: return unit(random);
    }
}

// A random sample set: labels 0..3, features from a few clusters plus noise,
// sometimes with special values.
inline SampleMatrix random_set(std::mt19937& random, uint32_t rows, uint32_t features, bool specials, float scale) {
    SampleMatrix set;
    set.columns = features + 1;
    set.rows = rows;
    std::normal_distribution<float> noise(0.0f, 1.0f);
    for (uint32_t r = 0; r < rows; ++r) {
        const uint32_t label = random() % 4;
        for (uint32_t f = 0; f < features; ++f) {
            const float v = scale * (float(label) - 1.5f + noise(random));
            set.values.push_back(specials && random() % 500 == 0 ? awkward_value(random, true) : v);
        }
        set.values.push_back(float(label));
    }
    return set;
}
