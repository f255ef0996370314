// Micro-benchmarks of the scalar kernels over 256-feature rows.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "perceptron_lib.h"
#include "voted_lib_ker.h"

namespace {

std::vector<float> random_row(unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    std::vector<float> row(257);
    for (float& v : row) v = value(random);
    return row;
}

void BM_vect_pr(benchmark::State& state) {
    auto a = random_row(1), b = random_row(2);
    float result = 0;
    for (auto _ : state) {
        vect_pr(256, a.data(), b.data(), result);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(BM_vect_pr);

void BM_ker_gauss(benchmark::State& state) {
    auto a = random_row(1), b = random_row(2);
    float result = 0;
    for (auto _ : state) {
        ker_gauss(256, a.data(), b.data(), result, 3.0f);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(BM_ker_gauss);

void BM_kernel_pol(benchmark::State& state) {
    auto a = random_row(1), b = random_row(2);
    float result = 0;
    for (auto _ : state) {
        kernel_pol(256, a.data(), b.data(), result, 3);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(BM_kernel_pol);

}  // namespace

BENCHMARK_MAIN();
