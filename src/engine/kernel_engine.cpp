// Batch kernels over packed rows, with an AVX-512 or AVX2 path picked at run
// time. Each lane runs the scalar formula's own operations in the same order,
// so the lanes agree bit for bit with vect_pr, vect_diff_raised and
// vect_pr_float.
#include "kernel_engine.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>

#include "avx512_steps.h"
#include "perceptron_lib.h"
#include "processor_probe.h"

namespace {

// The reference path: each lane gathered into a plain row and run through
// the scalar formula itself. It serves the scalar level (a processor without
// AVX2, or PROGRAMMA_VECTOR=scalar), and data holding NaNs: which of two NaN
// operands an operation returns depends on operand order, which only the
// scalar code itself reproduces. (NaNs made by the arithmetic are all the
// same default NaN, so NaN-free inputs need no such care.)
using ScalarFormula = int (*)(uint32_t, const float*, const float*, float&);

void reference_blocks(ScalarFormula formula, const float* x, const PackedRows& rows, uint32_t first, uint32_t end,
                      float* out) {
    std::vector<float> lane_row(rows.features);
    for (uint32_t b = first; b < end; ++b) {
        const float* block = rows.block(b);
        for (uint32_t lane = 0; lane < kLanes; ++lane) {
            for (uint32_t i = 0; i < rows.features; ++i) lane_row[i] = block[i * kLanes + lane];
            formula(rows.features, x, lane_row.data(), out[std::size_t(b - first) * kLanes + lane]);
        }
    }
}

bool holds_nan_scalar(const float* values, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        if (std::isnan(values[i])) return true;
    }
    return false;
}

// Sixteen values to a compare: a NaN is the one value unordered with itself.
[[gnu::target("avx512f")]] bool holds_nan_avx512(const float* values, uint32_t count) {
    uint32_t i = 0;
    __mmask16 found = 0;
    for (; i + 16 <= count; i += 16) {
        const __m512 v = _mm512_loadu_ps(values + i);
        found |= _mm512_cmp_ps_mask(v, v, _CMP_UNORD_Q);
    }
    return found != 0 || holds_nan_scalar(values + i, count - i);
}

}  // namespace

bool holds_nan(const float* values, uint32_t count, VectorLevel level) {
    return level == VectorLevel::avx512 ? holds_nan_avx512(values, count) : holds_nan_scalar(values, count);
}

namespace {

// The vector level a batch may use: scalar when the data hold a NaN.
VectorLevel level_for(const float* x, const PackedRows& rows) {
    if (rows.has_nan || holds_nan(x, rows.features, rows.level)) return VectorLevel::scalar;
    return rows.level;
}

// Vector paths. A block holds kLanes = 16 rows: one AVX-512 register of
// floats, two AVX2 registers, or four (AVX2) or two (AVX-512) registers of
// doubles. Several blocks at a time keep enough independent chains in flight
// to hide the latency of each rounding step.

// The product of two floats is exact in double; the sum is rounded to double
// and then, through the round trip, to float, as in the scalar step.
[[gnu::target("avx2")]] inline __m256d dot_exact_step(__m256d sum, __m256d x, __m128 y) {
    __m256d product = _mm256_mul_pd(x, _mm256_cvtps_pd(y));
    return _mm256_cvtps_pd(_mm256_cvtpd_ps(_mm256_add_pd(sum, product)));
}

[[gnu::target("avx512f")]] inline __m512d dot_exact_step(__m512d sum, __m512d x, __m512d y) {
    __m512d product = _mm512_mul_pd(x, y);
    return avx512::widen(avx512::narrow(_mm512_add_pd(sum, product)));
}

// B blocks at once, each as four chains of four lanes.
template <int B>
[[gnu::target("avx2")]] inline void avx2_dot_exact_blocks(const float* x, const PackedRows& rows, uint32_t block,
                                                          float* out) {
    constexpr int kParts = kLanes / 4;
    __m256d sums[B * kParts];
    const float* lanes[B];
    for (int k = 0; k < B; ++k) lanes[k] = rows.block(block + uint32_t(k));
    for (__m256d& sum : sums) sum = _mm256_setzero_pd();
    for (uint32_t i = 0; i < rows.features; ++i) {
        const __m256d xi = _mm256_set1_pd(static_cast<double>(x[i]));
        for (int k = 0; k < B; ++k) {
            for (int p = 0; p < kParts; ++p) {
                sums[k * kParts + p] =
                    dot_exact_step(sums[k * kParts + p], xi, _mm_loadu_ps(lanes[k] + i * kLanes + 4 * p));
            }
        }
    }
    for (int k = 0; k < B * kParts; ++k) _mm_storeu_ps(out + 4 * k, _mm256_cvtpd_ps(sums[k]));
}

// B blocks against S samples at once, each block as two chains of eight
// lanes per sample (Parts = 1: the first eight lanes only, for a last block
// that holds no more rows); each converted block half serves every sample.
template <int B, int S, int Parts = kLanes / 8>
[[gnu::target("avx512f")]] inline void avx512_dot_exact_blocks(const float* const* x, const PackedRows& rows,
                                                               uint32_t block, float* const* out) {
    constexpr int kParts = Parts;
    __m512d sums[S][B * kParts];
    const float* lanes[B];
    for (int k = 0; k < B; ++k) lanes[k] = rows.block(block + uint32_t(k));
    for (auto& per_sample : sums) {
        for (__m512d& sum : per_sample) sum = _mm512_setzero_pd();
    }
    for (uint32_t i = 0; i < rows.features; ++i) {
        __m512d xi[S];
        for (int j = 0; j < S; ++j) xi[j] = _mm512_set1_pd(static_cast<double>(x[j][i]));
        for (int k = 0; k < B; ++k) {
            for (int p = 0; p < kParts; ++p) {
                const __m512d y = avx512::widen(_mm256_loadu_ps(lanes[k] + i * kLanes + 8 * p));
                for (int j = 0; j < S; ++j) {
                    sums[j][k * kParts + p] = dot_exact_step(sums[j][k * kParts + p], xi[j], y);
                }
            }
        }
    }
    for (int j = 0; j < S; ++j) {
        for (int k = 0; k < B * kParts; ++k) {
            _mm256_storeu_ps(out[j] + 8 * k, avx512::narrow(sums[j][k]));
        }
    }
}

[[gnu::target("avx2")]] void avx2_dot_exact(const float* x, const PackedRows& rows, uint32_t first, uint32_t end,
                                            float* out) {
    uint32_t b = first;
    for (; b + 2 <= end; b += 2) avx2_dot_exact_blocks<2>(x, rows, b, out + std::size_t(b - first) * kLanes);
    for (; b < end; ++b) avx2_dot_exact_blocks<1>(x, rows, b, out + std::size_t(b - first) * kLanes);
}

// Blocks [first, end) against S samples, out[j] receiving sample j's values.
template <int S>
[[gnu::target("avx512f")]] void avx512_dot_exact_samples(const float* const* x, const PackedRows& rows, uint32_t first,
                                                         uint32_t end, float* const* out) {
    constexpr int kWide = S == 1 ? 4 : S == 2 ? 2 : 1;  // chains enough to hide each step's latency
    float* at[S];
    const auto place = [&](uint32_t block) {
        for (int j = 0; j < S; ++j) at[j] = out[j] + std::size_t(block - first) * kLanes;
    };
    // A last block of eight rows or fewer takes half the work: its other
    // lanes are never read.
    const uint32_t live = rows.count % kLanes;
    const bool half_last = end == rows.blocks() && end > first && live != 0 && live <= 8;
    const uint32_t full_end = half_last ? end - 1 : end;
    uint32_t b = first;
    for (; b + kWide <= full_end; b += kWide) {
        place(b);
        avx512_dot_exact_blocks<kWide, S>(x, rows, b, at);
    }
    for (; b < full_end; ++b) {
        place(b);
        avx512_dot_exact_blocks<1, S>(x, rows, b, at);
    }
    if (half_last) {
        place(b);
        avx512_dot_exact_blocks<1, S, 1>(x, rows, b, at);
    }
}

[[gnu::target("avx512f")]] void avx512_dot_exact(const float* x, const PackedRows& rows, uint32_t first, uint32_t end,
                                                 float* out) {
    avx512_dot_exact_samples<1>(&x, rows, first, end, &out);
}

// Float lanes: difference, square and sum each rounded, never fused.
[[gnu::target("avx2")]] inline __m256 distance_step(__m256 sum, __m256 x, const float* y) {
    __m256 difference = _mm256_sub_ps(x, _mm256_loadu_ps(y));
    return _mm256_add_ps(sum, _mm256_mul_ps(difference, difference));
}

[[gnu::target("avx2")]] inline __m256 float_dot_step(__m256 sum, __m256 x, const float* y) {
    return _mm256_add_ps(sum, _mm256_mul_ps(x, _mm256_loadu_ps(y)));
}

[[gnu::target("avx512f")]] inline __m512 distance_step(__m512 sum, __m512 x, __m512 y) {
    __m512 difference = _mm512_sub_ps(x, y);
    return _mm512_add_ps(sum, _mm512_mul_ps(difference, difference));
}

// The same step with the difference taken as x * 1 - y: one rounding of the
// exact difference, as the subtraction gives, but on the multiply-add units
// instead of the adders, which the sums keep busy.
[[gnu::target("avx512f")]] inline __m512 distance_step_fused_units(__m512 sum, __m512 x, __m512 y) {
    __m512 difference = _mm512_fmsub_ps(x, _mm512_set1_ps(1.0f), y);
    return _mm512_add_ps(sum, _mm512_mul_ps(difference, difference));
}

[[gnu::target("avx512f")]] inline __m512 float_dot_step(__m512 sum, __m512 x, __m512 y) {
    return _mm512_add_ps(sum, _mm512_mul_ps(x, y));
}

// Two blocks at a time: four chains of eight lanes.
template <__m256 (*Step)(__m256, __m256, const float*)>
[[gnu::target("avx2")]] void avx2_float_lanes(const float* x, const PackedRows& rows, uint32_t first, uint32_t end,
                                              float* out) {
    const uint32_t n = rows.features;
    uint32_t b = first;
    for (; b + 2 <= end; b += 2) {
        const float* p0 = rows.block(b);
        const float* p1 = rows.block(b + 1);
        __m256 s0 = _mm256_setzero_ps(), s1 = _mm256_setzero_ps();
        __m256 s2 = _mm256_setzero_ps(), s3 = _mm256_setzero_ps();
        for (uint32_t i = 0; i < n; ++i) {
            __m256 xi = _mm256_set1_ps(x[i]);
            s0 = Step(s0, xi, p0 + i * kLanes);
            s1 = Step(s1, xi, p0 + i * kLanes + 8);
            s2 = Step(s2, xi, p1 + i * kLanes);
            s3 = Step(s3, xi, p1 + i * kLanes + 8);
        }
        float* o = out + std::size_t(b - first) * kLanes;
        _mm256_storeu_ps(o, s0);
        _mm256_storeu_ps(o + 8, s1);
        _mm256_storeu_ps(o + 16, s2);
        _mm256_storeu_ps(o + 24, s3);
    }
    for (; b < end; ++b) {
        const float* p = rows.block(b);
        __m256 s0 = _mm256_setzero_ps(), s1 = _mm256_setzero_ps();
        for (uint32_t i = 0; i < n; ++i) {
            __m256 xi = _mm256_set1_ps(x[i]);
            s0 = Step(s0, xi, p + i * kLanes);
            s1 = Step(s1, xi, p + i * kLanes + 8);
        }
        _mm256_storeu_ps(out + std::size_t(b - first) * kLanes, s0);
        _mm256_storeu_ps(out + std::size_t(b - first) * kLanes + 8, s1);
    }
}

using Step512 = __m512 (*)(__m512, __m512, __m512);

// C blocks against S samples at once: C * S chains of sixteen lanes, each
// loaded block serving every sample. Even features take EvenStep, odd ones
// OddStep (two forms of the same step).
template <int C, int S, Step512 EvenStep, Step512 OddStep>
[[gnu::target("avx512f")]] inline void avx512_float_blocks(const float* const* x, const PackedRows& rows,
                                                           uint32_t block, float* const* out) {
    const uint32_t n = rows.features;
    const float* p[C];
    __m512 s[S][C];
    for (int k = 0; k < C; ++k) {
        p[k] = rows.block(block + uint32_t(k));
        for (int j = 0; j < S; ++j) s[j][k] = _mm512_setzero_ps();
    }
    uint32_t i = 0;
    for (; i + 2 <= n; i += 2) {
        for (int k = 0; k < C; ++k) {
            const __m512 y = _mm512_loadu_ps(p[k] + i * kLanes);
            for (int j = 0; j < S; ++j) s[j][k] = EvenStep(s[j][k], _mm512_set1_ps(x[j][i]), y);
        }
        for (int k = 0; k < C; ++k) {
            const __m512 y = _mm512_loadu_ps(p[k] + (i + 1) * kLanes);
            for (int j = 0; j < S; ++j) s[j][k] = OddStep(s[j][k], _mm512_set1_ps(x[j][i + 1]), y);
        }
    }
    if (i < n) {
        for (int k = 0; k < C; ++k) {
            const __m512 y = _mm512_loadu_ps(p[k] + i * kLanes);
            for (int j = 0; j < S; ++j) s[j][k] = EvenStep(s[j][k], _mm512_set1_ps(x[j][i]), y);
        }
    }
    for (int j = 0; j < S; ++j) {
        for (int k = 0; k < C; ++k) _mm512_storeu_ps(out[j] + std::size_t(k) * kLanes, s[j][k]);
    }
}

// Blocks [first, end) against S samples, out[j] receiving sample j's values.
template <int S, Step512 EvenStep, Step512 OddStep>
[[gnu::target("avx512f")]] void avx512_float_samples(const float* const* x, const PackedRows& rows, uint32_t first,
                                                     uint32_t end, float* const* out) {
    constexpr int kWide = S == 1 ? 8 : S == 2 ? 4 : 2;  // chains enough to hide the sums' latency
    float* at[S];
    uint32_t b = first;
    const auto place = [&](uint32_t block) {
        for (int j = 0; j < S; ++j) at[j] = out[j] + std::size_t(block - first) * kLanes;
    };
    for (; b + kWide <= end; b += kWide) {
        place(b);
        avx512_float_blocks<kWide, S, EvenStep, OddStep>(x, rows, b, at);
    }
    for (; b + 2 <= end; b += 2) {
        place(b);
        avx512_float_blocks<2, S, EvenStep, OddStep>(x, rows, b, at);
    }
    for (; b < end; ++b) {
        place(b);
        avx512_float_blocks<1, S, EvenStep, OddStep>(x, rows, b, at);
    }
}

template <Step512 EvenStep, Step512 OddStep>
[[gnu::target("avx512f")]] void avx512_float_lanes(const float* x, const PackedRows& rows, uint32_t first, uint32_t end,
                                                   float* out) {
    avx512_float_samples<1, EvenStep, OddStep>(&x, rows, first, end, &out);
}

}  // namespace

void pack_reset(PackedRows& packed, uint32_t features, VectorLevel level) {
    packed.features = features;
    packed.level = level;
    packed.count = 0;
    packed.has_nan = false;
    packed.lanes.clear();
}

void pack_reserve(PackedRows& packed, uint32_t slots) {
    packed.lanes.reserve(std::size_t((slots + kLanes - 1) / kLanes) * packed.features * kLanes);
}

SlotRows::SlotRows(const SampleMatrix& set, uint32_t features, VectorLevel level) : slot_of_row(set.rows, -1) {
    pack_reset(slots, features, level);
}

uint32_t SlotRows::slot_for(const SampleMatrix& set, uint32_t r) {
    if (slot_of_row[r] < 0) {
        slot_of_row[r] = static_cast<int32_t>(slot_row.size());
        slot_row.push_back(r);
        pack_append(slots, set.row(r));
    }
    return static_cast<uint32_t>(slot_of_row[r]);
}

MistakeRows::MistakeRows(const SampleMatrix& set, uint32_t features, VectorLevel level)
    : SlotRows(set, features, level) {}

void MistakeRows::reserve(std::size_t entries) {
    pack_reserve(slots, uint32_t(std::min<std::size_t>(entries, slot_of_row.size())));
    entry_slot.reserve(entries);
    entry_sign.reserve(entries);
}

void MistakeRows::add(const SampleMatrix& set, uint32_t r, uint32_t digit) {
    entry_slot.push_back(slot_for(set, r));
    entry_sign.push_back(static_cast<float>(target_label(set.row(r)[set.columns - 1], digit)));
}

void pack_append(PackedRows& packed, const float* row) {
    const uint32_t lane = packed.count % kLanes;
    if (lane == 0) packed.lanes.resize(packed.lanes.size() + std::size_t(packed.features) * kLanes, 0.0f);
    float* block = packed.lanes.data() + std::size_t(packed.count / kLanes) * packed.features * kLanes;
    for (uint32_t i = 0; i < packed.features; ++i) block[i * kLanes + lane] = row[i];
    packed.has_nan = packed.has_nan || holds_nan(row, packed.features, packed.level);
    packed.count += 1;
}

void pack_size(PackedRows& packed, uint32_t count, bool has_nan) {
    packed.count = count;
    packed.has_nan = has_nan;
    packed.lanes.resize(std::size_t(packed.blocks()) * packed.features * kLanes);
}

namespace {

// Features [from, to) of a block's rows (lane_row[lane], `used` of them;
// the other lanes get zeros), one feature's sixteen lanes after another.
void pack_features(const float* const* lane_row, uint32_t used, uint32_t from, uint32_t to, float* block) {
    for (uint32_t i = from; i < to; ++i) {
        float* at = block + std::size_t(i) * kLanes;
        for (uint32_t lane = 0; lane < used; ++lane) at[lane] = lane_row[lane][i];
        for (uint32_t lane = used; lane < kLanes; ++lane) at[lane] = 0.0f;
    }
}

// Sixteen features of a block's rows at once: a 16 x 16 transpose in
// registers (moves only: every bit is kept).
[[gnu::target("avx512f")]] void pack_features_avx512(const float* const* lane_row, uint32_t used, uint32_t features,
                                                     float* block) {
    uint32_t i = 0;
    for (; i + 16 <= features; i += 16) {
        __m512 r[16], t[16];
        for (uint32_t k = 0; k < 16; ++k) r[k] = k < used ? _mm512_loadu_ps(lane_row[k] + i) : _mm512_setzero_ps();
        for (int k = 0; k < 16; k += 2) {
            t[k] = avx512::unpack_low(r[k], r[k + 1]);
            t[k + 1] = avx512::unpack_high(r[k], r[k + 1]);
        }
        for (int k = 0; k < 16; k += 4) {
            r[k] = avx512::shuffle_floats<0x44>(t[k], t[k + 2]);
            r[k + 1] = avx512::shuffle_floats<0xee>(t[k], t[k + 2]);
            r[k + 2] = avx512::shuffle_floats<0x44>(t[k + 1], t[k + 3]);
            r[k + 3] = avx512::shuffle_floats<0xee>(t[k + 1], t[k + 3]);
        }
        for (int k = 0; k < 16; k += 8) {
            for (int j = 0; j < 4; ++j) {
                t[k + j] = avx512::shuffle_quarters<0x88>(r[k + j], r[k + j + 4]);
                t[k + j + 4] = avx512::shuffle_quarters<0xdd>(r[k + j], r[k + j + 4]);
            }
        }
        for (int j = 0; j < 8; ++j) {
            r[j] = avx512::shuffle_quarters<0x88>(t[j], t[j + 8]);
            r[j + 8] = avx512::shuffle_quarters<0xdd>(t[j], t[j + 8]);
        }
        for (uint32_t k = 0; k < 16; ++k) _mm512_storeu_ps(block + std::size_t(i + k) * kLanes, r[k]);
    }
    pack_features(lane_row, used, i, features, block);
}

}  // namespace

void pack_blocks(PackedRows& packed, const float* const* rows, uint32_t first_block, uint32_t end_block) {
    const uint32_t features = packed.features;
    const bool wide = packed.level == VectorLevel::avx512;
    for (uint32_t b = first_block; b < end_block; ++b) {
        float* block = packed.lanes.data() + std::size_t(b) * features * kLanes;
        const uint32_t used = std::min(kLanes, packed.count - b * kLanes);
        const float* const* lane_row = rows + std::size_t(b) * kLanes;
        if (wide) {
            pack_features_avx512(lane_row, used, features, block);
        } else {
            pack_features(lane_row, used, 0, features, block);
        }
    }
}

namespace {

using VectorKernel = void (*)(const float*, const PackedRows&, uint32_t, uint32_t, float*);

// The widest vector kernel the processor and the data allow, the scalar
// formula itself otherwise.
void run_batch(VectorKernel avx512, VectorKernel avx2, ScalarFormula formula, const float* x, const PackedRows& rows,
               uint32_t first_block, uint32_t end_block, float* out) {
    switch (level_for(x, rows)) {
        case VectorLevel::avx512: avx512(x, rows, first_block, end_block, out); break;
        case VectorLevel::avx2: avx2(x, rows, first_block, end_block, out); break;
        case VectorLevel::scalar: reference_blocks(formula, x, rows, first_block, end_block, out); break;
    }
}

}  // namespace

void batch_dot_exact(const float* x, const PackedRows& rows, uint32_t first_block, uint32_t end_block, float* out) {
    run_batch(avx512_dot_exact, avx2_dot_exact, vect_pr, x, rows, first_block, end_block, out);
}

void batch_squared_distance(const float* x, const PackedRows& rows, uint32_t first_block, uint32_t end_block,
                            float* out) {
    run_batch(avx512_float_lanes<distance_step, distance_step_fused_units>, avx2_float_lanes<distance_step>,
              vect_diff_raised, x, rows, first_block, end_block, out);
}

void batch_dot_float(const float* x, const PackedRows& rows, uint32_t first_block, uint32_t end_block, float* out) {
    run_batch(avx512_float_lanes<float_dot_step, float_dot_step>, avx2_float_lanes<float_dot_step>, vect_pr_float, x,
              rows, first_block, end_block, out);
}

namespace {

using SamplesKernel = void (*)(const float* const*, const PackedRows&, uint32_t, uint32_t, float* const*);

// Up to four samples at a time through the AVX-512 form of a kernel (Four
// and Two take four and two samples); the rest (or all, on other processors
// and NaN data) one by one. vector_ok[k], when given, says whether sample k
// may take the AVX-512 form (saving a scan of each sample for NaNs on every
// call).
template <SamplesKernel Four, SamplesKernel Two, SamplesKernel One>
void grouped(const float* const* x, float* const* out, std::size_t count, const PackedRows& rows, uint32_t first_block,
             uint32_t end_block, VectorKernel one, const bool* vector_ok = nullptr) {
    const auto all_vector = [&](std::size_t from, std::size_t n) {
        for (std::size_t k = from; k < from + n; ++k) {
            const bool ok = vector_ok != nullptr ? vector_ok[k] : level_for(x[k], rows) == VectorLevel::avx512;
            if (!ok) return false;
        }
        return true;
    };
    std::size_t i = 0;
    for (; i + 4 <= count && all_vector(i, 4); i += 4) Four(x + i, rows, first_block, end_block, out + i);
    for (; i + 2 <= count && all_vector(i, 2); i += 2) Two(x + i, rows, first_block, end_block, out + i);
    for (; i < count; ++i) {
        if (vector_ok != nullptr && vector_ok[i]) {
            One(x + i, rows, first_block, end_block, out + i);
        } else {
            one(x[i], rows, first_block, end_block, out[i]);
        }
    }
}

// The grouped form of a float-lane kernel.
template <Step512 EvenStep, Step512 OddStep>
void grouped_float_lanes(const float* const* x, float* const* out, std::size_t count, const PackedRows& rows,
                         uint32_t first_block, uint32_t end_block, VectorKernel one, const bool* vector_ok) {
    grouped<avx512_float_samples<4, EvenStep, OddStep>, avx512_float_samples<2, EvenStep, OddStep>,
            avx512_float_samples<1, EvenStep, OddStep>>(x, out, count, rows, first_block, end_block, one, vector_ok);
}

// The grouped form of each kernel.
void grouped_values(BatchKind kind, const float* const* x, float* const* out, std::size_t count, const PackedRows& rows,
                    uint32_t first_block, uint32_t end_block, const bool* vector_ok) {
    switch (kind) {
        case BatchKind::dot_exact:
            grouped<avx512_dot_exact_samples<4>, avx512_dot_exact_samples<2>, avx512_dot_exact_samples<1>>(
                x, out, count, rows, first_block, end_block, batch_dot_exact, vector_ok);
            break;
        case BatchKind::squared_distance:
            grouped_float_lanes<distance_step, distance_step_fused_units>(x, out, count, rows, first_block, end_block,
                                                                          batch_squared_distance, vector_ok);
            break;
        case BatchKind::dot_float:
            grouped_float_lanes<float_dot_step, float_dot_step>(x, out, count, rows, first_block, end_block,
                                                                batch_dot_float, vector_ok);
            break;
    }
}

}  // namespace

void batch_values(BatchKind kind, const float* const* x, float* const* out, std::size_t count, const PackedRows& rows,
                  uint32_t first_block, uint32_t end_block) {
    grouped_values(kind, x, out, count, rows, first_block, end_block, nullptr);
}

namespace {

// The slots [from, until) of a sample within a range of slots.
struct SlotSpan {
    uint32_t from;
    uint32_t until;
    bool empty() const { return from >= until; }
    uint32_t first_block() const { return from / kLanes; }
    uint32_t end_block() const { return (until + kLanes - 1) / kLanes; }
};

void copy_span(const float* raw, uint32_t raw_block, SlotSpan span, float* out) {
    std::copy(raw + (span.from - raw_block * kLanes), raw + (span.until - raw_block * kLanes), out + span.from);
}

}  // namespace

void batch_tiled(BatchKind kind, const PackedRows& rows, const TiledSample* samples, std::size_t count, uint32_t to) {
    // About 256 KiB of 256-feature slots per range, well inside a core's L2,
    // in whole groups of eight blocks, the vector kernels' widest step.
    const uint32_t range_blocks =
        8 * std::max<uint32_t>(
                1, uint32_t((std::size_t(256) << 10) / (std::size_t(rows.features + 1) * kLanes * sizeof(float) * 8)));
    const uint32_t end_block = (to + kLanes - 1) / kLanes;
    constexpr std::size_t kGroup = 4;
    std::vector<float> raws[kGroup];
    // Whether each sample may take the AVX-512 form, found once per call.
    std::vector<char> vector_ok(count);
    const bool wide = !rows.has_nan && rows.level == VectorLevel::avx512;
    for (std::size_t k = 0; k < count; ++k) {
        vector_ok[k] = wide && (samples[k].nan_free || !holds_nan(samples[k].x, rows.features, rows.level));
    }
    for (auto& buffer : raws) buffer.resize(std::size_t(std::min(range_blocks, end_block)) * kLanes);
    for (uint32_t first = 0; first < end_block; first += range_blocks) {
        const uint32_t last = std::min(end_block, first + range_blocks);
        // Samples go up to four at a time over the blocks any of them needs
        // (their first slots are nearly the same).
        for (std::size_t i = 0; i < count; i += kGroup) {
            const float* x[kGroup];
            float* out[kGroup];
            SlotSpan spans[kGroup];
            const TiledSample* owners[kGroup];
            bool ok[kGroup];
            std::size_t used = 0;
            uint32_t block = last;
            for (std::size_t k = i; k < std::min(count, i + kGroup); ++k) {
                const SlotSpan span{std::max(samples[k].from, first * kLanes), std::min(to, last * kLanes)};
                if (span.empty()) continue;
                x[used] = samples[k].x;
                out[used] = raws[used].data();
                spans[used] = span;
                owners[used] = &samples[k];
                ok[used] = vector_ok[k] != 0;
                block = std::min(block, span.first_block());
                ++used;
            }
            if (used == 0) continue;
            grouped_values(kind, x, out, used, rows, block, spans[0].end_block(), ok);
            for (std::size_t k = 0; k < used; ++k) copy_span(out[k], block, spans[k], owners[k]->out);
        }
    }
}
