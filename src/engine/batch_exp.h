// The gaussian kernel's last step for many values at once: exp((-d) / c),
// bit for bit what the scalar formula gives through the C library's expf.
#pragma once

#include <cstddef>

// Replaces each of the count squared distances by gaussian_of_distance(d,
// constant).
void gaussian_of_distances(float* values, std::size_t count, float constant);

// Whether the vector form is in use: the usable vector level
// (processor_probe.h) is AVX-512, and the vector form agreed with the
// library's expf on a fixed set of arguments when first asked.
bool batch_exp_vectorised();
