// The loader's first try at each number: a plain decimal token of up to 15
// bytes, classified and converted from one 16-byte load in a few SSE4.1
// steps. The byte classes give the token's length, sign and point; a
// shuffle drops the point and lines the digits up at the right of the
// register, and three multiply-add steps fold them into one integer, which
// one correctly rounded division by a power of ten turns into strtof's
// float. Whatever it declines (longer tokens, exponents, halfway cases)
// the loader reads with std::from_chars or strtof. The scan runs only where
// the processor probe allows it; PROGRAMMA_VECTOR=scalar turns it off.
#include "decimal_scan.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "processor_probe.h"

namespace {

// Shuffle controls that close up the gap a point at position k leaves: byte
// i takes byte i, or i + 1 from k on (k = 16: no point).
constexpr std::array<std::array<int8_t, 16>, 17> make_point_removal() {
    std::array<std::array<int8_t, 16>, 17> table{};
    for (int k = 0; k <= 16; ++k) {
        for (int i = 0; i < 16; ++i) {
            const int from = i < k ? i : i + 1;
            table[k][i] = from < 16 ? int8_t(from) : int8_t(-128);
        }
    }
    return table;
}
constexpr auto kPointRemoval = make_point_removal();

// A sliding window of shuffle controls: the 16 bytes from offset n move
// bytes 0 .. n-1 to the top n positions and clear the rest.
constexpr std::array<int8_t, 32> make_right_align() {
    std::array<int8_t, 32> table{};
    for (int j = 0; j < 32; ++j) table[j] = j < 16 ? int8_t(-128) : int8_t(j - 16);
    return table;
}
constexpr auto kRightAlign = make_right_align();

inline bool quotient_to_float(uint64_t digits, int decimals, bool negative, float& value) {
    static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                         1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (digits >= (uint64_t(1) << 53) || decimals < 0 || decimals > 22) return false;
    if (digits == 0) {
        value = negative ? -0.0f : 0.0f;
        return true;
    }
    // Digits and power are exact doubles, so their quotient is the correctly
    // rounded double, between 1e-22 and 2^53: in the normal float range.
    // Rounding it to float gives strtof's float unless it lies exactly
    // halfway between two floats (double rounding could then go wrong).
    const double quotient = static_cast<double>(digits) / kPowers[decimals];
    uint64_t bits = 0;
    std::memcpy(&bits, &quotient, sizeof bits);
    constexpr uint64_t kBelowFloat = (uint64_t(1) << 29) - 1;  // fraction bits a float drops
    if ((bits & kBelowFloat) == (uint64_t(1) << 28)) return false;
    const float magnitude = static_cast<float>(quotient);
    value = negative ? -magnitude : magnitude;
    return true;
}

bool is_blank_or_line_end(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\n'; }

[[gnu::target("sse4.1")]] int scan_sse(const char* p, float& value) {
    const __m128i text = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i digits = _mm_sub_epi8(text, _mm_set1_epi8('0'));
    // Unsigned digits - '0' below 10 marks a digit.
    const __m128i is_digit = _mm_cmpeq_epi8(_mm_min_epu8(digits, _mm_set1_epi8(9)), digits);
    const unsigned digit_bits = unsigned(_mm_movemask_epi8(is_digit));
    const unsigned point_bits = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(text, _mm_set1_epi8('.'))));
    const unsigned minus_bits = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(text, _mm_set1_epi8('-'))));
    const unsigned token_bits = digit_bits | point_bits | (minus_bits & 1u);
    const int length = __builtin_ctz(~token_bits);  // bit 16 and up are clear in token_bits
    if (length >= 16 || !is_blank_or_line_end(p[length])) return 0;
    const unsigned inside = (1u << length) - 1;
    const unsigned point = point_bits & inside;
    const bool negative = (minus_bits & 1u) != 0;
    if ((point & (point - 1)) != 0) return 0;  // two points
    if ((digit_bits & inside) == 0) return 0;
    // Without a point, point_at is 16 and both forms below still hold, with
    // no branch on whether the token has one.
    const int point_at = __builtin_ctz(point | 0x10000u);
    const int decimals = std::max(0, length - point_at - 1);
    const int used = length - (point != 0);

    // Non-digits (sign, point) become zeros; then the point's gap is closed,
    // leaving the digits (behind a zero for a sign) in the first `used`
    // bytes, which move to the top of the register.
    __m128i values = _mm_and_si128(digits, is_digit);
    values =
        _mm_shuffle_epi8(values, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kPointRemoval[point_at].data())));
    values = _mm_shuffle_epi8(values, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kRightAlign.data() + used)));
    // Pairs, fours, eights: 10a + b, 100a + b, 10000a + b.
    const __m128i pairs = _mm_maddubs_epi16(values, _mm_set1_epi16(0x010a));
    const __m128i fours = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00010064));
    const __m128i packed = _mm_packus_epi32(fours, fours);
    const __m128i eights = _mm_madd_epi16(packed, _mm_set1_epi32(0x00012710));
    const uint64_t high = uint32_t(_mm_cvtsi128_si32(eights));
    const uint64_t low = uint32_t(_mm_extract_epi32(eights, 1));
    if (!quotient_to_float(high * 100000000u + low, decimals, negative, value)) return 0;
    return length;
}

}  // namespace

int scan_short_decimal_sse41(const char* p, float& value) { return scan_sse(p, value); }

int scan_short_decimal(const char* p, float& value, const EngineSettings& settings) {
    return short_decimal_scan_usable(settings) ? scan_sse(p, value) : 0;
}
