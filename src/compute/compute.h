// How programma's drivers compute: reading sample files, training and
// testing both methods. The plain Compute is the reference modules;
// programma plugs in the engine's faster one, which gives the same bytes,
// and programma_reference keeps the plain one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "file_lib.h"
#include "list_lib.h"
#include "perceptron_lib.h"

// What voted training hands to the voted test: the mistaken rows and the
// survival count of the vector each made, in the same order.
struct VotedTraining {
    std::vector<int32_t> mistake_indices;
    std::vector<uint32_t> vote_counts;
    uint32_t entries = 0;
    float error = 0.0f;
};

// The steps, as functions, so that main can hand either set to the drivers
// (the engine's with the settings the program read at start).
struct Compute {
    // Measures a sample file, calls measured(dims) (a driver prints the
    // size there), then loads it. False after a diagnostic.
    std::function<bool(const char* path, SampleMatrix& set, Dims& dims,
                       const std::function<void(const Dims&)>& measured)>
        read_samples;

    // As run and run_test.
    std::function<int(uint32_t epochs, uint32_t digit, KernelSpec ker, std::unique_ptr<IndexList>& list,
                      const SampleMatrix& tr_set, Dims dim_tr, float& error)>
        train_kernel;
    std::function<void(uint32_t digit, KernelSpec ker, const IndexList* list, const SampleMatrix& tr_set, Dims dim_tr,
                       const SampleMatrix& ts_set, Dims dim_ts, float& error)>
        test_kernel;

    // As run_v_train_ker and run_v_test_ker.
    std::function<VotedTraining(uint32_t epochs, uint32_t digit, const SampleMatrix& tr_set, Dims dim_tr)> train_voted;
    std::function<void(uint32_t digit, const SampleMatrix& ts_set, Dims dim_ts, const SampleMatrix& tr_set, Dims dim_tr,
                       const VotedTraining& training, float& error)>
        test_voted;
};

// The plain Compute of the reference modules.
const Compute& plain_compute();
