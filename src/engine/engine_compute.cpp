// The engine's Compute: each step on the engine, falling back to the plain
// one where the engine's own memory cannot be had.
#include "engine_compute.h"

#include "fast_perceptron.h"
#include "fast_voted.h"
#include "sample_loader.h"

Compute engine_compute(const EngineSettings& settings) {
    Compute engine;
    engine.read_samples = [settings](const char* path, SampleMatrix& set, Dims& dims,
                                     const std::function<void(const Dims&)>& measured) {
        MeasuredFile parts;  // what measuring found, kept for the load
        if (measure_samples(path, dims, parts, settings) != 0) return false;
        if (measured) measured(dims);
        return load_samples(set, dims.columns, dims.rows, path, parts, settings) == 0;
    };
    engine.train_kernel = [settings](uint32_t epochs, uint32_t digit, KernelSpec ker, std::unique_ptr<IndexList>& list,
                                     const SampleMatrix& tr_set, Dims dim_tr, float& error) {
        const int status = run_fast(epochs, digit, ker, list, tr_set, dim_tr.columns, dim_tr.rows, error, settings);
        if (status != kEngineOutOfMemory) return status;
        return plain_compute().train_kernel(epochs, digit, ker, list, tr_set, dim_tr, error);
    };
    engine.test_kernel = [settings](uint32_t digit, KernelSpec ker, const IndexList* list, const SampleMatrix& tr_set,
                                    Dims dim_tr, const SampleMatrix& ts_set, Dims dim_ts, float& error) {
        if (run_test_fast(digit, ker, list, tr_set, dim_tr.columns, ts_set, dim_ts.columns, dim_ts.rows, error,
                          settings) != kEngineOutOfMemory) {
            return;
        }
        plain_compute().test_kernel(digit, ker, list, tr_set, dim_tr, ts_set, dim_ts, error);
    };
    engine.train_voted = [](uint32_t epochs, uint32_t digit, const SampleMatrix& tr_set, Dims dim_tr) {
        VotedTraining training;
        train_voted_fast(epochs, digit, tr_set, dim_tr.columns, dim_tr.rows, training.mistake_indices,
                         training.vote_counts, training.entries, training.error);
        return training;
    };
    engine.test_voted = [settings](uint32_t digit, const SampleMatrix& ts_set, Dims dim_ts, const SampleMatrix& tr_set,
                                   Dims dim_tr, const VotedTraining& training, float& error) {
        if (run_v_test_fast(digit, ts_set, dim_ts.columns, dim_ts.rows, tr_set, training.mistake_indices.data(),
                            training.vote_counts.data(), training.entries, error, settings) != kEngineOutOfMemory) {
            return;
        }
        plain_compute().test_voted(digit, ts_set, dim_ts, tr_set, dim_tr, training, error);
    };
    return engine;
}
