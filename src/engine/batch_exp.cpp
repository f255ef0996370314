// exp of many floats at once with AVX-512, reproducing the C library's expf
// bit for bit: the same double-precision steps (a 32-entry table of 2^(i/32)
// with the exponent folded in, a scaled argument reduction and a degree-3
// polynomial, with the same fused operations), each lane rounded to float at
// the end. Only arguments inside the library's main path (|x| below about
// 88) take the vector form; the others, NaNs among them, go through the
// scalar formula. Because another C library could compute expf another way,
// the vector form is checked against expf on a fixed set of arguments the
// first time it is wanted, and stays off if a single bit differs.
#include "batch_exp.h"

#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "avx512_steps.h"
#include "perceptron_lib.h"
#include "processor_probe.h"

namespace {

// The library's tables and constants (N = 32 table entries).
constexpr uint64_t kTable[32] = {
    0x3ff0000000000000, 0x3fefd9b0d3158574, 0x3fefb5586cf9890f, 0x3fef9301d0125b51, 0x3fef72b83c7d517b,
    0x3fef54873168b9aa, 0x3fef387a6e756238, 0x3fef1e9df51fdee1, 0x3fef06fe0a31b715, 0x3feef1a7373aa9cb,
    0x3feedea64c123422, 0x3feece086061892d, 0x3feebfdad5362a27, 0x3feeb42b569d4f82, 0x3feeab07dd485429,
    0x3feea47eb03a5585, 0x3feea09e667f3bcd, 0x3fee9f75e8ec5f74, 0x3feea11473eb0187, 0x3feea589994cce13,
    0x3feeace5422aa0db, 0x3feeb737b0cdc5e5, 0x3feec49182a3f090, 0x3feed503b23e255d, 0x3feee89f995ad3ad,
    0x3feeff76f2fb5e47, 0x3fef199bdd85529c, 0x3fef3720dcef9069, 0x3fef5818dcfba487, 0x3fef7c97337b9b5f,
    0x3fefa4afa2a490da, 0x3fefd0765b6e4540,
};
constexpr uint64_t kInvLn2N = 0x40471547652b82fe;  // 32 / ln 2
constexpr uint64_t kShift = 0x4338000000000000;    // 1.5 * 2^52: rounds to an integer
constexpr uint64_t kC0 = 0x3ebc6af84b912394;
constexpr uint64_t kC1 = 0x3f2ebfce50fac4f3;
constexpr uint64_t kC2 = 0x3f962e42ff0c52d6;
// Arguments whose bits >> 20 (sign dropped) exceed this leave the main path.
constexpr uint32_t kMainPathTop = 0x42a;

[[gnu::target("avx512f")]] __m512d constant(uint64_t bits) { return _mm512_set1_pd(std::bit_cast<double>(bits)); }

// Eight lanes of the main path, in double.
[[gnu::target("avx512f")]] __m512d exp_main_path(__m512d x) {
    const __m512d inv_ln2_n = constant(kInvLn2N);
    const __m512d shift = constant(kShift);
    __m512d kd = _mm512_fmadd_pd(inv_ln2_n, x, shift);
    const __m512i ki = _mm512_castpd_si512(kd);
    kd = _mm512_sub_pd(kd, shift);
    const __m512d r = _mm512_fmsub_pd(inv_ln2_n, x, kd);
    // 2^(k/32): the table entry of k mod 32 with k's upper bits added to the
    // exponent field.
    const __m512i index = _mm512_and_si512(ki, _mm512_set1_epi64(31));
    const __m512i entry = avx512::gather(index, kTable);
    const __m512d scale = _mm512_castsi512_pd(_mm512_add_epi64(entry, avx512::shift_left_64<47>(ki)));
    const __m512d z = _mm512_fmadd_pd(constant(kC0), r, constant(kC1));
    const __m512d r2 = _mm512_mul_pd(r, r);
    __m512d y = _mm512_fmadd_pd(constant(kC2), r, _mm512_set1_pd(1.0));
    y = _mm512_fmadd_pd(z, r2, y);
    return _mm512_mul_pd(y, scale);
}

// Sixteen gaussian values: the quotient in float as the scalar formula forms
// it, then exp in two halves of eight doubles. Returns the mask of lanes
// that left the main path (their results are to be replaced).
[[gnu::target("avx512f")]] __mmask16 gaussian_sixteen(float* values, __m512 constant_c) {
    const __m512 distance = _mm512_loadu_ps(values);
    const __m512 negated =
        _mm512_castsi512_ps(_mm512_xor_si512(_mm512_castps_si512(distance), _mm512_set1_epi32(int(0x80000000u))));
    const __m512 quotient = _mm512_div_ps(negated, constant_c);
    const __m512i top =
        _mm512_and_si512(avx512::shift_right_32<20>(_mm512_castps_si512(quotient)), _mm512_set1_epi32(0x7ff));
    const __mmask16 outside = _mm512_cmpgt_epu32_mask(top, _mm512_set1_epi32(kMainPathTop));
    const __m512d low = exp_main_path(avx512::widen(avx512::lower_half(quotient)));
    const __m512d high = exp_main_path(avx512::widen(avx512::upper_half(quotient)));
    _mm512_storeu_ps(values, avx512::joined(avx512::narrow(low), avx512::narrow(high)));
    return outside;
}

[[gnu::target("avx512f")]] void vector_gaussians(float* values, std::size_t count, float c) {
    const __m512 constant_c = _mm512_set1_ps(c);
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        float distances[16];
        std::copy(values + i, values + i + 16, distances);
        __mmask16 outside = gaussian_sixteen(values + i, constant_c);
        while (outside != 0) {
            const int lane = __builtin_ctz(outside);
            values[i + lane] = gaussian_of_distance(distances[lane], c);
            outside = __mmask16(outside & (outside - 1));
        }
    }
    for (; i < count; ++i) values[i] = gaussian_of_distance(values[i], c);
}

// The vector form against the scalar formula on a fixed set of arguments,
// cheap enough to run at every start: quotients spread evenly over the main
// path and a little past both its ends, and the bit patterns of a simple
// generator. (The test suite compares the two on every float.)
bool vector_form_agrees() {
    constexpr std::size_t kCount = 2048;
    float distances[kCount];
    float got[kCount];
    uint32_t state = 20261206;
    for (std::size_t i = 0; i < kCount; ++i) {
        state = state * 1664525u + 1013904223u;
        distances[i] =
            i % 2 == 0 ? -100.0f + 200.0f * float(i) / float(kCount) : std::bit_cast<float>(state & 0x42ffffffu);
    }
    for (float c : {1.0f, -0.7f}) {
        std::copy(distances, distances + kCount, got);
        vector_gaussians(got, kCount, c);
        for (std::size_t i = 0; i < kCount; ++i) {
            const float expected = gaussian_of_distance(distances[i], c);
            if (std::bit_cast<uint32_t>(expected) != std::bit_cast<uint32_t>(got[i])) return false;
        }
    }
    return true;
}

bool vector_form_usable(VectorLevel level) {
    if (level != VectorLevel::avx512) return false;
    static const bool agrees = vector_form_agrees();
    return agrees;
}

}  // namespace

void gaussian_of_distances(float* values, std::size_t count, float constant, VectorLevel level) {
    if (vector_form_usable(level)) {
        vector_gaussians(values, count, constant);
        return;
    }
    for (std::size_t i = 0; i < count; ++i) values[i] = gaussian_of_distance(values[i], constant);
}

bool batch_exp_vectorised(VectorLevel level) { return vector_form_usable(level); }
