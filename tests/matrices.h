// Small hand-made sample sets for the training tests.
#pragma once

#include <vector>

#include "file_lib.h"

inline SampleMatrix make_matrix(uint32_t columns, std::vector<float> values) {
    SampleMatrix matrix;
    matrix.columns = columns;
    matrix.rows = static_cast<uint32_t>(values.size() / columns);
    matrix.values.assign(values.begin(), values.end());
    return matrix;
}
