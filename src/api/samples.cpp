// Sample sets through the library: read with the engine's loader, or made
// from rows in memory.
#include <limits>
#include <string>

#include "diagnostics.h"
#include "engine_call.h"
#include "safe_call.h"
#include "sample_loader.h"
#include "sample_rows.h"

namespace programma {

SampleSet::SampleSet(std::shared_ptr<const Rows> rows) : rows_(std::move(rows)) {}

uint32_t SampleSet::rows() const { return rows_ ? rows_->matrix.rows : 0; }
uint32_t SampleSet::columns() const { return rows_ ? rows_->matrix.columns : 0; }
const float* SampleSet::row(uint32_t r) const { return rows_->matrix.row(r); }

std::vector<float> SampleSet::labels() const {
    std::vector<float> labels(rows());
    for (uint32_t r = 0; r < rows(); ++r) labels[r] = label(r);
    return labels;
}

Result<SampleSet> read_samples(const std::string& path, const EngineOptions& options) {
    if (Status named = check_path(path); !named) return named.error();
    if (Status checked = check_options(options); !checked) return checked.error();
    return guarded<SampleSet>(
        [&]() -> Result<SampleSet> {
            DiagnosticCapture capture;
            auto rows = std::make_shared<SampleSet::Rows>();
            Dims dims;
            MeasuredFile measured;
            if (measure_samples(path.c_str(), dims, measured, options) != 0 ||
                load_samples(rows->matrix, dims.columns, dims.rows, path.c_str(), measured, options) != 0) {
                return capture.error();
            }
            return SampleSet(std::move(rows));
        },
        path);
}

Result<SampleSet> samples_from_memory(const float* values, const float* labels, std::size_t rows,
                                      std::size_t features) {
    if (rows == 0 || features == 0) {
        return Error{ErrorKind::invalid_argument, "a sample set needs at least one row and one feature", {}, 0, 0, {}};
    }
    if (values == nullptr || labels == nullptr) {
        return Error{ErrorKind::invalid_argument, "a sample set needs its values and labels", {}, 0, 0, {}};
    }
    constexpr std::size_t kMost = std::numeric_limits<uint32_t>::max();
    if (rows > kMost || features >= kMost || rows > std::numeric_limits<std::size_t>::max() / (features + 1)) {
        return Error{ErrorKind::invalid_argument, "too many samples or features", {}, 0, 0, {}};
    }
    return guarded<SampleSet>([&]() -> Result<SampleSet> {
        auto held = std::make_shared<SampleSet::Rows>();
        SampleMatrix& matrix = held->matrix;
        matrix.columns = static_cast<uint32_t>(features + 1);
        matrix.rows = static_cast<uint32_t>(rows);
        matrix.values.resize(rows * (features + 1));
        for (std::size_t r = 0; r < rows; ++r) {
            float* out = matrix.row(static_cast<uint32_t>(r));
            std::copy(values + r * features, values + (r + 1) * features, out);
            out[features] = labels[r];
        }
        return SampleSet(std::move(held));
    });
}

}  // namespace programma
