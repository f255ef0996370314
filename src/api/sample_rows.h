// How a SampleSet holds its rows: a loaded sample set of the reference
// modules, shared by the set's copies.
#pragma once

#include "file_lib.h"
#include "programma/api.h"

struct programma::SampleSet::Rows {
    SampleMatrix matrix;
};

namespace programma {

inline const SampleMatrix& matrix_of(const SampleSet& set) { return set.held().matrix; }

}  // namespace programma
