// The voted test on the batch engine. The distinct mistaken rows are packed
// once; each test row gets the float-rounded dot products against all of
// them in one batch, and the votes are added in mistake order.
//
// Only the sign of each kernel value matters. With the degree 3 of the test
// kernel (kVotedTestDegree), (s + 1)^3 has the sign of s + 1 except where the cube underflows to
// zero, so the power function is evaluated only for bases so small (below
// 2^-40) or odd (NaN) that the cube might not keep that sign.
#include "fast_voted.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <vector>

#include "kernel_engine.h"
#include "processor_probe.h"
#include "voted_lib_ker.h"
#include "worker_pool.h"

namespace {

static_assert(kVotedTestDegree == 3, "votes are decided by the sign of the cube's base");

// Test rows scored together against each range of packed mistakes.
constexpr std::size_t kVotedRowsPerGroup = 64;

// Whether the vote of a mistake with label sign y counts for (true) or
// against: (base^3) * y > 0, as the scalar test decides it.
bool votes_for(float base, float y) {
    if (std::isnan(base)) return false;
    if (std::fabs(base) >= 0x1p-40f) return (base > 0.0f) == (y > 0.0f);
    return std::pow(base, float(kVotedTestDegree)) * y > 0.0f;
}

// Every test row's answer.
std::vector<int32_t> voted_answers(uint32_t digit, const SampleMatrix& ts_set, uint32_t ts_columns, uint32_t ts_rows,
                                   const SampleMatrix& tr_set, const int32_t* mistake_indices,
                                   const uint32_t* vote_counts, uint32_t n, const EngineSettings& settings) {
    MistakeRows mistakes(tr_set, ts_columns - 1, usable_vector_level(settings));
    mistakes.reserve(n);
    for (uint32_t m = 0; m < n; ++m) mistakes.add(tr_set, static_cast<uint32_t>(mistake_indices[m]), digit);
    const PackedRows& slots = mistakes.slots;
    std::vector<int32_t> answers(ts_rows);
    const std::size_t stride = slots.count;
    parallel_for(settings, ts_rows, 8, [&](std::size_t begin, std::size_t end) {
        // Test rows go in groups that share each range of packed mistakes
        // while it is in cache.
        std::vector<float> sums(std::size_t(kVotedRowsPerGroup) * stride);
        std::vector<TiledSample> samples;
        for (std::size_t group = begin; group < end; group += kVotedRowsPerGroup) {
            const std::size_t group_end = std::min(end, group + kVotedRowsPerGroup);
            samples.clear();
            for (std::size_t s = group; s < group_end; ++s) {
                samples.push_back({ts_set.row(uint32_t(s)), 0, sums.data() + (s - group) * stride});
            }
            batch_tiled(BatchKind::dot_float, slots, samples.data(), samples.size(), slots.count);
            for (std::size_t s = group; s < group_end; ++s) {
                const float* row_sums = sums.data() + (s - group) * stride;
                int64_t votes = 0;  // wide enough that no sum of counts overflows
                for (uint32_t m = 0; m < n; ++m) {
                    const float base = row_sums[mistakes.entry_slot[m]] + 1.0f;
                    if (votes_for(base, mistakes.entry_sign[m])) {
                        votes += vote_counts[m];
                    } else {
                        votes -= vote_counts[m];
                    }
                }
                answers[s] = votes < 0 ? -1 : 1;
            }
        }
    });
    return answers;
}

}  // namespace

void train_voted_fast(uint32_t epochs, uint32_t digit, const SampleMatrix& set, uint32_t columns, uint32_t rows,
                      std::vector<int32_t>& mistake_indices, std::vector<uint32_t>& vote_counts, uint32_t& n,
                      float& error) {
    train_voted_chain(
        epochs, digit, set, columns, rows, mistake_indices, vote_counts, n, error,
        [](const VotedList& chain, bool, std::size_t) { return static_cast<const float*>(chain.tail->vector.data()); });
}

int run_v_test_fast(uint32_t digit, const SampleMatrix& ts_set, uint32_t ts_columns, uint32_t ts_rows,
                    const SampleMatrix& tr_set, const int32_t* mistake_indices, const uint32_t* vote_counts, uint32_t n,
                    float& error, const EngineSettings& settings) {
    std::vector<int32_t> answers;
    try {
        answers = voted_answers(digit, ts_set, ts_columns, ts_rows, tr_set, mistake_indices, vote_counts, n, settings);
    } catch (const std::bad_alloc&) {
        return kEngineOutOfMemory;  // nothing printed yet
    }
    report_voted_test(digit, ts_set, ts_columns, answers, error);
    return 0;
}
