// The AVX-512 steps whose GCC 12 forms start from an undefined register,
// wrapped one by one. GCC's uninitialised-value warnings take that register
// for a fault in whatever code the step is inlined into, so they are turned
// off here, around these wrappers only; every other line of the engine keeps
// them.
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace avx512 {

#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// Eight floats widened to doubles, exactly.
[[gnu::target("avx512f")]] inline __m512d widen(__m256 floats) { return _mm512_cvtps_pd(floats); }

// Eight doubles rounded to floats.
[[gnu::target("avx512f")]] inline __m256 narrow(__m512d doubles) { return _mm512_cvtpd_ps(doubles); }

[[gnu::target("avx512f")]] inline __m256 lower_half(__m512 floats) { return _mm512_castps512_ps256(floats); }

[[gnu::target("avx512f")]] inline __m256 upper_half(__m512 floats) {
    return _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(floats), 1));
}

[[gnu::target("avx512f")]] inline __m512 joined(__m256 low, __m256 high) {
    return _mm512_castpd_ps(
        _mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_castps_pd(low)), _mm256_castps_pd(high), 1));
}

template <unsigned Bits>
[[gnu::target("avx512f")]] inline __m512i shift_left_64(__m512i lanes) {
    return _mm512_slli_epi64(lanes, Bits);
}

template <unsigned Bits>
[[gnu::target("avx512f")]] inline __m512i shift_right_32(__m512i lanes) {
    return _mm512_srli_epi32(lanes, Bits);
}

// The steps of a 16 x 16 transpose: interleaved floats, float pairs and
// 128-bit quarters of two registers.
[[gnu::target("avx512f")]] inline __m512 unpack_low(__m512 a, __m512 b) { return _mm512_unpacklo_ps(a, b); }
[[gnu::target("avx512f")]] inline __m512 unpack_high(__m512 a, __m512 b) { return _mm512_unpackhi_ps(a, b); }

template <int Select>
[[gnu::target("avx512f")]] inline __m512 shuffle_floats(__m512 a, __m512 b) {
    return _mm512_shuffle_ps(a, b, Select);
}

template <int Select>
[[gnu::target("avx512f")]] inline __m512 shuffle_quarters(__m512 a, __m512 b) {
    return _mm512_shuffle_f32x4(a, b, Select);
}

// table[index] for each of eight 64-bit indices.
[[gnu::target("avx512f")]] inline __m512i gather(__m512i index, const uint64_t* table) {
    return _mm512_i64gather_epi64(index, reinterpret_cast<const long long*>(table), 8);
}

#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif

}  // namespace avx512
