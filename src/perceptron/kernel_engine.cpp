// Batch kernels over packed rows, with an AVX2 path picked at run time. Each
// lane runs the scalar formula's own operations in the same order, so the
// lanes agree bit for bit with vect_pr, vect_diff_raised and vect_pr_float.
#include "kernel_engine.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>

#include "perceptron_lib.h"

namespace {

bool cpu_has_avx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

bool avx2_allowed = true;

bool use_avx2() {
    static const bool available = cpu_has_avx2();
    return available && avx2_allowed;
}

// The reference path: each lane gathered into a plain row and run through
// the scalar formula itself. It serves processors without AVX2, and data
// holding NaNs: which of two NaN operands an operation returns depends on
// operand order, which only the scalar code itself reproduces. (NaNs made by
// the arithmetic are all the same default NaN, so NaN-free inputs need no
// such care.)
using ScalarFormula = int (*)(uint32_t, const float*, const float*, float&);

void reference_blocks(ScalarFormula formula, const float* x, const PackedRows& rows,
                      uint32_t first, uint32_t end, float* out) {
    std::vector<float> lane_row(rows.features);
    for (uint32_t b = first; b < end; ++b) {
        const float* block = rows.block(b);
        for (uint32_t lane = 0; lane < kLanes; ++lane) {
            for (uint32_t i = 0; i < rows.features; ++i) lane_row[i] = block[i * kLanes + lane];
            formula(rows.features, x, lane_row.data(), out[std::size_t(b - first) * kLanes + lane]);
        }
    }
}

bool holds_nan(const float* values, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        if (std::isnan(values[i])) return true;
    }
    return false;
}

bool vector_path(const float* x, const PackedRows& rows) {
    return use_avx2() && !rows.has_nan && !holds_nan(x, rows.features);
}

// AVX2: two blocks at a time keep enough independent chains in flight to
// hide the latency of each rounding step.

// The product of two floats is exact in double; the sum is rounded to double
// and then, through the round trip, to float, as in the scalar step.
[[gnu::target("avx2")]] inline __m256d dot_exact_step(__m256d sum, __m256d x, __m128 y) {
    __m256d product = _mm256_mul_pd(x, _mm256_cvtps_pd(y));
    return _mm256_cvtps_pd(_mm256_cvtpd_ps(_mm256_add_pd(sum, product)));
}

// B blocks at once: 2 * B independent chains hide the latency of each
// step's rounding, so the conversions run at their full rate.
template <int B>
[[gnu::target("avx2")]] inline void dot_exact_blocks(const float* x, const PackedRows& rows,
                                                     uint32_t block, float* out) {
    __m256d sums[2 * B];
    const float* lanes[B];
    for (int k = 0; k < B; ++k) {
        sums[2 * k] = _mm256_setzero_pd();
        sums[2 * k + 1] = _mm256_setzero_pd();
        lanes[k] = rows.block(block + uint32_t(k));
    }
    for (uint32_t i = 0; i < rows.features; ++i) {
        const __m256d xi = _mm256_set1_pd(static_cast<double>(x[i]));
        for (int k = 0; k < B; ++k) {
            sums[2 * k] = dot_exact_step(sums[2 * k], xi, _mm_loadu_ps(lanes[k] + i * kLanes));
            sums[2 * k + 1] =
                dot_exact_step(sums[2 * k + 1], xi, _mm_loadu_ps(lanes[k] + i * kLanes + 4));
        }
    }
    for (int k = 0; k < 2 * B; ++k) _mm_storeu_ps(out + 4 * k, _mm256_cvtpd_ps(sums[k]));
}

[[gnu::target("avx2")]] void avx2_dot_exact(const float* x, const PackedRows& rows,
                                             uint32_t first, uint32_t end, float* out) {
    uint32_t b = first;
    for (; b + 4 <= end; b += 4) dot_exact_blocks<4>(x, rows, b, out + std::size_t(b - first) * kLanes);
    for (; b < end; ++b) dot_exact_blocks<1>(x, rows, b, out + std::size_t(b - first) * kLanes);
}

// Float lanes: difference, square and sum each rounded, never fused.
[[gnu::target("avx2")]] inline __m256 distance_step(__m256 sum, __m256 x, const float* y) {
    __m256 difference = _mm256_sub_ps(x, _mm256_loadu_ps(y));
    return _mm256_add_ps(sum, _mm256_mul_ps(difference, difference));
}

[[gnu::target("avx2")]] inline __m256 float_dot_step(__m256 sum, __m256 x, const float* y) {
    return _mm256_add_ps(sum, _mm256_mul_ps(x, _mm256_loadu_ps(y)));
}

template <__m256 (*Step)(__m256, __m256, const float*)>
[[gnu::target("avx2")]] void avx2_float_lanes(const float* x, const PackedRows& rows,
                                              uint32_t first, uint32_t end, float* out) {
    const uint32_t n = rows.features;
    uint32_t b = first;
    for (; b + 4 <= end; b += 4) {
        const float* p0 = rows.block(b);
        const float* p1 = rows.block(b + 1);
        const float* p2 = rows.block(b + 2);
        const float* p3 = rows.block(b + 3);
        __m256 s0 = _mm256_setzero_ps(), s1 = _mm256_setzero_ps();
        __m256 s2 = _mm256_setzero_ps(), s3 = _mm256_setzero_ps();
        for (uint32_t i = 0; i < n; ++i) {
            __m256 xi = _mm256_set1_ps(x[i]);
            s0 = Step(s0, xi, p0 + i * kLanes);
            s1 = Step(s1, xi, p1 + i * kLanes);
            s2 = Step(s2, xi, p2 + i * kLanes);
            s3 = Step(s3, xi, p3 + i * kLanes);
        }
        float* o = out + std::size_t(b - first) * kLanes;
        _mm256_storeu_ps(o, s0);
        _mm256_storeu_ps(o + 8, s1);
        _mm256_storeu_ps(o + 16, s2);
        _mm256_storeu_ps(o + 24, s3);
    }
    for (; b < end; ++b) {
        const float* p = rows.block(b);
        __m256 s = _mm256_setzero_ps();
        for (uint32_t i = 0; i < n; ++i) s = Step(s, _mm256_set1_ps(x[i]), p + i * kLanes);
        _mm256_storeu_ps(out + std::size_t(b - first) * kLanes, s);
    }
}

}  // namespace

void pack_reset(PackedRows& packed, uint32_t features) {
    packed.features = features;
    packed.count = 0;
    packed.has_nan = false;
    packed.lanes.clear();
}

void pack_append(PackedRows& packed, const float* row) {
    const uint32_t lane = packed.count % kLanes;
    if (lane == 0) packed.lanes.resize(packed.lanes.size() + std::size_t(packed.features) * kLanes, 0.0f);
    float* block = packed.lanes.data() + std::size_t(packed.count / kLanes) * packed.features * kLanes;
    for (uint32_t i = 0; i < packed.features; ++i) block[i * kLanes + lane] = row[i];
    packed.has_nan = packed.has_nan || holds_nan(row, packed.features);
    packed.count += 1;
}

namespace {

using VectorKernel = void (*)(const float*, const PackedRows&, uint32_t, uint32_t, float*);

// The vector kernel where it gives the scalar formula's bits, the scalar
// formula itself otherwise.
void run_batch(VectorKernel vector, ScalarFormula formula, const float* x, const PackedRows& rows,
               uint32_t first_block, uint32_t end_block, float* out) {
    if (vector_path(x, rows)) {
        vector(x, rows, first_block, end_block, out);
    } else {
        reference_blocks(formula, x, rows, first_block, end_block, out);
    }
}

}  // namespace

void batch_dot_exact(const float* x, const PackedRows& rows, uint32_t first_block,
                     uint32_t end_block, float* out) {
    run_batch(avx2_dot_exact, vect_pr, x, rows, first_block, end_block, out);
}

void batch_squared_distance(const float* x, const PackedRows& rows, uint32_t first_block,
                            uint32_t end_block, float* out) {
    run_batch(avx2_float_lanes<distance_step>, vect_diff_raised, x, rows, first_block, end_block,
              out);
}

void batch_dot_float(const float* x, const PackedRows& rows, uint32_t first_block,
                     uint32_t end_block, float* out) {
    run_batch(avx2_float_lanes<float_dot_step>, vect_pr_float, x, rows, first_block, end_block,
              out);
}

bool batch_uses_avx2() { return use_avx2(); }

void batch_allow_avx2(bool allow) { avx2_allowed = allow; }

void batch_tiled(BatchKind kind, const PackedRows& rows, const TiledSample* samples,
                 std::size_t count, uint32_t to) {
    // About 256 KiB of 256-feature slots per range: well inside a core's L2.
    const uint32_t range_blocks =
        std::max<uint32_t>(1, uint32_t((std::size_t(256) << 10) / (std::size_t(rows.features + 1) * kLanes * sizeof(float))));
    const uint32_t end_block = (to + kLanes - 1) / kLanes;
    thread_local std::vector<float> raw;
    raw.resize(std::size_t(range_blocks) * kLanes);
    for (uint32_t first = 0; first < end_block; first += range_blocks) {
        const uint32_t last = std::min(end_block, first + range_blocks);
        for (std::size_t i = 0; i < count; ++i) {
            const TiledSample& sample = samples[i];
            const uint32_t from = std::max(sample.from, first * kLanes);
            const uint32_t until = std::min(to, last * kLanes);
            if (from >= until) continue;
            const uint32_t block = from / kLanes;
            const uint32_t end = (until + kLanes - 1) / kLanes;
            switch (kind) {
                case BatchKind::dot_exact:
                    batch_dot_exact(sample.x, rows, block, end, raw.data());
                    break;
                case BatchKind::squared_distance:
                    batch_squared_distance(sample.x, rows, block, end, raw.data());
                    break;
                case BatchKind::dot_float:
                    batch_dot_float(sample.x, rows, block, end, raw.data());
                    break;
            }
            std::copy(raw.begin() + (from - block * kLanes), raw.begin() + (until - block * kLanes),
                      sample.out + from);
        }
    }
}
