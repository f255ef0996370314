// Scores from lists whose entries' training steps are already worked out:
// what decision_scores does once it has each entry's position in the
// training order, and what a model does with its support rows alone (whose
// positions count steps over a training set it no longer holds).
#pragma once

#include <cstdint>
#include <vector>

#include "programma/api.h"

namespace programma {

using Scores = std::vector<std::vector<std::vector<double>>>;  // [recogniser][cell][row]

// As decision_scores: lists[i] holds rows of `training`, steps[i] each
// entry's position in the training order, and the prefixes' weights count
// steps over `weighed_rows` rows an epoch. The recognisers must be checked
// and share their kernel, the samples as wide as the training set.
Result<Scores> scores_by_steps(const SampleSet& training, const std::vector<Recogniser>& recognisers,
                               const std::vector<std::vector<int32_t>>& lists,
                               const std::vector<std::vector<int32_t>>& steps, uint32_t weighed_rows,
                               const SampleSet& samples, const std::vector<ScoreCell>& cells, const CancelFlag* cancel,
                               const EngineOptions& options);

}  // namespace programma
