// The plain Compute: the reference modules, one thread, the scalar formulas.
#include "compute.h"

#include "voted_lib_ker.h"

namespace {

bool read_samples(const char* path, SampleMatrix& set, Dims& dims, const std::function<void(const Dims&)>& measured) {
    if (line_counter(path, dims) != 0) return false;
    if (measured) measured(dims);
    return read_file(set, dims.columns, dims.rows, path) == 0;
}

int train_kernel(uint32_t epochs, uint32_t digit, KernelSpec ker, std::unique_ptr<IndexList>& list,
                 const SampleMatrix& tr_set, Dims dim_tr, float& error) {
    return run(epochs, digit, ker, list, tr_set, dim_tr.columns, dim_tr.rows, error);
}

void test_kernel(uint32_t digit, KernelSpec ker, const IndexList* list, const SampleMatrix& tr_set, Dims dim_tr,
                 const SampleMatrix& ts_set, Dims dim_ts, float& error) {
    run_test(digit, ker, list, tr_set, dim_tr.columns, dim_tr.rows, ts_set, dim_ts.columns, dim_ts.rows, error);
}

VotedTraining train_voted(uint32_t epochs, uint32_t digit, const SampleMatrix& tr_set, Dims dim_tr) {
    VotedTraining training;
    run_v_train_ker(epochs, digit, tr_set, dim_tr.columns, dim_tr.rows, training.mistake_indices, training.vote_counts,
                    training.entries, training.error);
    return training;
}

void test_voted(uint32_t digit, const SampleMatrix& ts_set, Dims dim_ts, const SampleMatrix& tr_set, Dims dim_tr,
                const VotedTraining& training, float& error) {
    run_v_test_ker(digit, ts_set, dim_ts.columns, dim_ts.rows, tr_set, dim_tr.columns, dim_tr.rows,
                   training.mistake_indices.data(), training.vote_counts.data(), training.entries, error);
}

}  // namespace

const Compute& plain_compute() {
    static const Compute plain{read_samples, train_kernel, test_kernel, train_voted, test_voted};
    return plain;
}
