// The gaussian kernel's last step for many values at once: exp((-d) / c),
// bit for bit what the scalar formula gives through the C library's expf.
#pragma once

#include <cstddef>

#include "engine_settings.h"

// Replaces each of the count squared distances by gaussian_of_distance(d,
// constant), with the vector form where the usable level allows it.
void gaussian_of_distances(float* values, std::size_t count, float constant, VectorLevel level);

// Whether the vector form is used at a usable level (processor_probe.h): it
// is AVX-512, and the vector form agreed with the library's expf on a fixed
// set of arguments when first asked.
bool batch_exp_vectorised(VectorLevel level);
