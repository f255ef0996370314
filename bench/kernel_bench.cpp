// Micro-benchmarks: the scalar kernels over 256-feature rows, the batch
// engine's kernels against the scalar loops they replace, the cost of the
// polynomial kernel's printed trace (printf against the fast formatter), and
// loading a large sample file with the program's reader against a plain
// fscanf stream reader.
//
// The loading benchmarks read bench/data/fashion_train (60000 x 257, made by
// bench/bench_e2e.sh); set
// PROGRAMMA_BENCH_FILE to load another file. Run from the repository root.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string_view>
#include <vector>

#include "file_lib.h"
#include "kernel_engine.h"
#include "number_format.h"
#include "perceptron_lib.h"
#include "processor_probe.h"
#include "sample_loader.h"
#include "stream_reader.h"
#include "voted_lib_ker.h"

namespace {

constexpr uint32_t kFeatures = 256;

std::vector<float> random_row(unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    std::vector<float> row(kFeatures + 1);
    for (float& v : row) v = value(random);
    row[kFeatures] = static_cast<float>(seed % 10);
    return row;
}

// Points standard output and standard input at /dev/null while it lives, so
// that the polynomial kernel's trace and its read of one character cost what
// they cost in a redirected run without flooding the benchmark report.
struct SilentStdio {
    int saved_out = -1;
    int saved_in = -1;

    SilentStdio() {
        std::fflush(stdout);
        saved_out = ::dup(STDOUT_FILENO);
        saved_in = ::dup(STDIN_FILENO);
        int null_out = ::open("/dev/null", O_WRONLY);
        int null_in = ::open("/dev/null", O_RDONLY);
        ::dup2(null_out, STDOUT_FILENO);
        ::dup2(null_in, STDIN_FILENO);
        ::close(null_out);
        ::close(null_in);
    }
    SilentStdio(const SilentStdio&) = delete;
    SilentStdio& operator=(const SilentStdio&) = delete;
    ~SilentStdio() {
        std::fflush(stdout);
        ::dup2(saved_out, STDOUT_FILENO);
        ::dup2(saved_in, STDIN_FILENO);
        ::close(saved_out);
        ::close(saved_in);
        std::clearerr(stdin);
    }
};

const char* sample_file() {
    const char* path = std::getenv("PROGRAMMA_BENCH_FILE");
    return path != nullptr && *path != '\0' ? path : "bench/data/fashion_train";
}

// ---- scalar kernels, one pair of rows ----

void BM_vect_pr(benchmark::State& state) {
    auto a = random_row(1), b = random_row(2);
    float result = 0;
    for (auto _ : state) {
        vect_pr(kFeatures, a.data(), b.data(), result);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(BM_vect_pr);

void BM_vect_diff_raised(benchmark::State& state) {
    auto a = random_row(1), b = random_row(2);
    float result = 0;
    for (auto _ : state) {
        vect_diff_raised(kFeatures, a.data(), b.data(), result);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(BM_vect_diff_raised);

void BM_ker_gauss(benchmark::State& state) {
    auto a = random_row(1), b = random_row(2);
    float result = 0;
    for (auto _ : state) {
        ker_gauss(kFeatures, a.data(), b.data(), result, 3.0f);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(BM_ker_gauss);

void BM_kernel_pol(benchmark::State& state) {
    auto a = random_row(1), b = random_row(2);
    float result = 0;
    for (auto _ : state) {
        kernel_pol(kFeatures, a.data(), b.data(), result, 3);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(BM_kernel_pol);

// ---- the polynomial kernel's trace ----

// ker_pol as the program runs it with standard input and output redirected:
// the trace printed through printf, one character read, the value computed.
void BM_ker_pol_traced(benchmark::State& state) {
    auto a = random_row(1), b = random_row(2);
    float result = 0;
    SilentStdio silent;
    for (auto _ : state) {
        ker_pol(kFeatures, a.data(), b.data(), result, 2.0f);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(BM_ker_pol_traced);

// The same value without the trace: the product, + 1, raised to the degree.
void BM_ker_pol_value_only(benchmark::State& state) {
    auto a = random_row(1), b = random_row(2);
    float result = 0;
    for (auto _ : state) {
        vect_pr(kFeatures, a.data(), b.data(), result);
        result = std::pow(result + 1.0f, 2.0f);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(BM_ker_pol_value_only);

// Formatting one evaluation's trace text with snprintf, into memory.
void BM_pol_trace_snprintf(benchmark::State& state) {
    auto a = random_row(1), b = random_row(2);
    char buffer[256];
    float result = 1.5f;
    for (auto _ : state) {
        int length =
            std::snprintf(buffer, sizeof buffer, "Arg %u %f %f %f %f", kFeatures, static_cast<double>(a[kFeatures]),
                          static_cast<double>(b[kFeatures]), static_cast<double>(result), 2.0);
        length += std::snprintf(buffer + length, sizeof buffer - std::size_t(length), "result vale %f",
                                static_cast<double>(result));
        benchmark::DoNotOptimize(buffer);
        benchmark::DoNotOptimize(length);
        result += 0.25f;
    }
}
BENCHMARK(BM_pol_trace_snprintf);

// The same text written with the program's fast formatter.
std::size_t fast_trace(char* buffer, uint32_t n, float x, float y, float result, float degree) {
    char* p = buffer;
    auto text = [&p](const char* literal) {
        std::size_t length = std::strlen(literal);
        std::memcpy(p, literal, length);
        p += length;
    };
    text("Arg ");
    p += format_unsigned(n, p);
    text(" ");
    p += format_fixed6(static_cast<double>(x), p);
    text(" ");
    p += format_fixed6(static_cast<double>(y), p);
    text(" ");
    p += format_fixed6(static_cast<double>(result), p);
    text(" ");
    p += format_fixed6(static_cast<double>(degree), p);
    text("result vale ");
    p += format_fixed6(static_cast<double>(result), p);
    return static_cast<std::size_t>(p - buffer);
}

void BM_pol_trace_fast_format(benchmark::State& state) {
    auto a = random_row(1), b = random_row(2);
    char buffer[8 * kFixed6Max];
    char expected[256];
    std::snprintf(expected, sizeof expected, "Arg %u %f %f %f %fresult vale %f", kFeatures,
                  static_cast<double>(a[kFeatures]), static_cast<double>(b[kFeatures]), 1.5, 2.0, 1.5);
    std::size_t length = fast_trace(buffer, kFeatures, a[kFeatures], b[kFeatures], 1.5f, 2.0f);
    if (std::string_view(buffer, length) != expected) {
        state.SkipWithError("the fast formatter's text differs from printf's");
        return;
    }
    float result = 1.5f;
    for (auto _ : state) {
        length = fast_trace(buffer, kFeatures, a[kFeatures], b[kFeatures], result, 2.0f);
        benchmark::DoNotOptimize(buffer);
        benchmark::DoNotOptimize(length);
        result += 0.25f;
    }
}
BENCHMARK(BM_pol_trace_fast_format);

// ---- batch kernels: one sample against 16, 64 or 1024 packed rows ----

// The engine's settings as the environment gives them, as programma reads
// them at start.
const EngineSettings& bench_settings() {
    static const EngineSettings settings = programma::options_from_environment();
    return settings;
}

// Rows packed for the batch engine, and the same rows as plain sample rows
// for the scalar loop they replace.
struct RowSet {
    std::vector<std::vector<float>> plain;
    PackedRows packed;
};

RowSet make_rows(uint32_t count) {
    RowSet set;
    pack_reset(set.packed, kFeatures, usable_vector_level(bench_settings()));
    for (uint32_t r = 0; r < count; ++r) {
        set.plain.push_back(random_row(100 + r));
        pack_append(set.packed, set.plain.back().data());
    }
    return set;
}

template <typename Batch>
void run_batch(benchmark::State& state, Batch batch) {
    const uint32_t count = static_cast<uint32_t>(state.range(0));
    RowSet set = make_rows(count);
    auto x = random_row(1);
    std::vector<float> out(std::size_t(set.packed.blocks()) * kLanes);
    for (auto _ : state) {
        batch(x.data(), set.packed, 0, set.packed.blocks(), out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * count);
    state.SetLabel(vector_level_name(usable_vector_level(bench_settings())));
}

template <typename Scalar>
void run_scalar(benchmark::State& state, Scalar scalar) {
    const uint32_t count = static_cast<uint32_t>(state.range(0));
    RowSet set = make_rows(count);
    auto x = random_row(1);
    std::vector<float> out(count);
    for (auto _ : state) {
        for (uint32_t r = 0; r < count; ++r) scalar(kFeatures, x.data(), set.plain[r].data(), out[r]);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * count);
}

void BM_scalar_dot_exact(benchmark::State& state) { run_scalar(state, vect_pr); }
void BM_batch_dot_exact(benchmark::State& state) { run_batch(state, batch_dot_exact); }
void BM_scalar_squared_distance(benchmark::State& state) { run_scalar(state, vect_diff_raised); }
void BM_batch_squared_distance(benchmark::State& state) { run_batch(state, batch_squared_distance); }
// Four samples against the same rows in one pass (items: sample-row pairs).
template <BatchKind Kind>
void run_four(benchmark::State& state) {
    const uint32_t count = static_cast<uint32_t>(state.range(0));
    RowSet set = make_rows(count);
    std::vector<std::vector<float>> xs;
    std::vector<std::vector<float>> outs;
    for (unsigned k = 0; k < 4; ++k) {
        xs.push_back(random_row(k + 1));
        outs.emplace_back(std::size_t(set.packed.blocks()) * kLanes);
    }
    const float* x[4] = {xs[0].data(), xs[1].data(), xs[2].data(), xs[3].data()};
    float* out[4] = {outs[0].data(), outs[1].data(), outs[2].data(), outs[3].data()};
    for (auto _ : state) {
        batch_values(Kind, x, out, 4, set.packed, 0, set.packed.blocks());
        benchmark::DoNotOptimize(out[0]);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * count * 4);
    state.SetLabel(vector_level_name(usable_vector_level(bench_settings())));
}
void BM_four_dot_exact(benchmark::State& state) { run_four<BatchKind::dot_exact>(state); }
void BM_four_squared_distance(benchmark::State& state) { run_four<BatchKind::squared_distance>(state); }
void BM_four_dot_float(benchmark::State& state) { run_four<BatchKind::dot_float>(state); }
BENCHMARK(BM_four_dot_exact)->Arg(16)->Arg(64)->Arg(256);
BENCHMARK(BM_four_squared_distance)->Arg(16)->Arg(64)->Arg(256);
BENCHMARK(BM_four_dot_float)->Arg(16)->Arg(64)->Arg(256);

void BM_scalar_dot_float(benchmark::State& state) { run_scalar(state, vect_pr_float); }
void BM_batch_dot_float(benchmark::State& state) { run_batch(state, batch_dot_float); }
BENCHMARK(BM_scalar_dot_exact)->Arg(16)->Arg(64)->Arg(1024);
BENCHMARK(BM_batch_dot_exact)->Arg(16)->Arg(64)->Arg(1024);
BENCHMARK(BM_scalar_squared_distance)->Arg(16)->Arg(64)->Arg(1024);
BENCHMARK(BM_batch_squared_distance)->Arg(16)->Arg(64)->Arg(256)->Arg(1024);
BENCHMARK(BM_scalar_dot_float)->Arg(16)->Arg(64)->Arg(1024);
BENCHMARK(BM_batch_dot_float)->Arg(16)->Arg(64)->Arg(1024);

// ---- loading a large sample file ----

void BM_load_program(benchmark::State& state) {
    const char* path = sample_file();
    for (auto _ : state) {
        Dims dims;
        SampleMatrix matrix;
        MeasuredFile measured;
        if (measure_samples(path, dims, measured, bench_settings()) != 0 ||
            load_samples(matrix, dims.columns, dims.rows, path, measured, bench_settings()) != 0) {
            state.SkipWithError("cannot load the sample file (run bench/bench_e2e.sh first)");
            break;
        }
        benchmark::DoNotOptimize(matrix.values.data());
        state.counters["rows"] = dims.rows;
    }
}
BENCHMARK(BM_load_program)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_load_stream(benchmark::State& state) {
    const char* path = sample_file();
    for (auto _ : state) {
        SampleMatrix matrix;
        if (!stream_read(path, matrix)) {
            state.SkipWithError("cannot load the sample file (run bench/bench_e2e.sh first)");
            break;
        }
        benchmark::DoNotOptimize(matrix.values.data());
        state.counters["rows"] = matrix.rows;
    }
}
BENCHMARK(BM_load_stream)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
