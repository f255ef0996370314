// The engine's Compute, which programma plugs into its front end: the same
// bytes as the plain one, computed by the batch kernels on the worker pool
// and read by the parallel loader. Where the engine cannot have the memory
// it needs beyond the reference's, it says so before printing anything and
// the plain Compute works instead.
#pragma once

#include "compute.h"

struct EngineCompute final : Compute {
    bool read_samples(const char* path, SampleMatrix& set, Dims& dims,
                      const std::function<void(const Dims&)>& measured) const override;
    int train_kernel(uint32_t epochs, uint32_t digit, KernelSpec ker, std::unique_ptr<IndexList>& list,
                     const SampleMatrix& tr_set, Dims dim_tr, float& error) const override;
    void test_kernel(uint32_t digit, KernelSpec ker, const IndexList* list, const SampleMatrix& tr_set,
                     Dims dim_tr, const SampleMatrix& ts_set, Dims dim_ts, float& error) const override;
    VotedTraining train_voted(uint32_t epochs, uint32_t digit, const SampleMatrix& tr_set,
                              Dims dim_tr) const override;
    void test_voted(uint32_t digit, const SampleMatrix& ts_set, Dims dim_ts, const SampleMatrix& tr_set,
                    Dims dim_tr, const VotedTraining& training, float& error) const override;
};
