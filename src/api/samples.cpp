// Sample sets through the library: read with the engine's loader, or made
// from rows in memory.
#include <limits>
#include <new>
#include <string>

#include "diagnostics.h"
#include "file_lib.h"
#include "programma/api.h"
#include "sample_loader.h"

namespace programma {

SampleSet::SampleSet(std::shared_ptr<const SampleMatrix> matrix) : matrix_(std::move(matrix)) {}

uint32_t SampleSet::rows() const { return matrix_ ? matrix_->rows : 0; }
uint32_t SampleSet::columns() const { return matrix_ ? matrix_->columns : 0; }
const float* SampleSet::row(uint32_t r) const { return matrix_->row(r); }

Result<SampleSet> read_samples(const std::string& path) {
    DiagnosticCapture capture;
    try {
        auto matrix = std::make_shared<SampleMatrix>();
        Dims dims;
        MeasuredFile measured;
        if (measure_samples(path.c_str(), dims, measured) != 0 ||
            load_samples(*matrix, dims.columns, dims.rows, path.c_str(), measured) != 0) {
            return Error{capture.text()};
        }
        return SampleSet(std::move(matrix));
    } catch (const std::bad_alloc&) {
        return Error{path + ": out of memory"};
    }
}

Result<SampleSet> samples_from_memory(const float* values, const float* labels, std::size_t rows,
                                      std::size_t features) {
    if (rows == 0 || features == 0) return Error{"a sample set needs at least one row and one feature"};
    constexpr std::size_t kMost = std::numeric_limits<uint32_t>::max();
    if (rows > kMost || features >= kMost || rows > std::numeric_limits<std::size_t>::max() / (features + 1)) {
        return Error{"too many samples or features"};
    }
    try {
        auto matrix = std::make_shared<SampleMatrix>();
        matrix->columns = static_cast<uint32_t>(features + 1);
        matrix->rows = static_cast<uint32_t>(rows);
        matrix->values.resize(rows * (features + 1));
        for (std::size_t r = 0; r < rows; ++r) {
            float* out = matrix->row(static_cast<uint32_t>(r));
            std::copy(values + r * features, values + (r + 1) * features, out);
            out[features] = labels[r];
        }
        return SampleSet(std::move(matrix));
    } catch (const std::bad_alloc&) {
        return Error{"out of memory"};
    }
}

}  // namespace programma
